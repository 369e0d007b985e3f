import sys

import pytest

import quendrix


@pytest.fixture(scope="session")
def q():
    return quendrix
