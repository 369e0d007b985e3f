"""An independent pure-Python SipHash, used to check the module's structural hash."""

MASK = (1 << 64) - 1


def _rotl(x, b):
    return ((x << b) | (x >> (64 - b))) & MASK


def siphash(data: bytes, c: int, d: int, k0: int = 0, k1: int = 0) -> int:
    v0 = k0 ^ 0x736F6D6570736575
    v1 = k1 ^ 0x646F72616E646F6D
    v2 = k0 ^ 0x6C7967656E657261
    v3 = k1 ^ 0x7465646279746573

    def rounds(n):
        nonlocal v0, v1, v2, v3
        for _ in range(n):
            v0 = (v0 + v1) & MASK
            v1 = _rotl(v1, 13) ^ v0
            v0 = _rotl(v0, 32)
            v2 = (v2 + v3) & MASK
            v3 = _rotl(v3, 16) ^ v2
            v0 = (v0 + v3) & MASK
            v3 = _rotl(v3, 21) ^ v0
            v2 = (v2 + v1) & MASK
            v1 = _rotl(v1, 17) ^ v2
            v2 = _rotl(v2, 32)

    whole = len(data) - len(data) % 8
    for i in range(0, whole, 8):
        m = int.from_bytes(data[i : i + 8], "little")
        v3 ^= m
        rounds(c)
        v0 ^= m
    tail = data[whole:] + bytes(7 - len(data) % 8) + bytes([len(data) & 0xFF])
    m = int.from_bytes(tail, "little")
    v3 ^= m
    rounds(c)
    v0 ^= m
    v2 ^= 0xFF
    rounds(d)
    return v0 ^ v1 ^ v2 ^ v3


def u64(n: int) -> bytes:
    return n.to_bytes(8, "little")


def python_hash_of(digest: int) -> int:
    signed = digest - (1 << 64) if digest >= 1 << 63 else digest
    return -2 if signed == -1 else signed
