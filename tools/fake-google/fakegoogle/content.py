"""Item content for the download endpoints: a record's "content" text as it stands, or a
generated body of "size" bytes made a chunk at a time, so a body of a gigabyte costs the fake
no more memory than one chunk. Byte i of a generated body is i % 251 (a prime: a chunk that
lands at the wrong offset shows)."""
import functools
import hashlib

from .http import Response

PATTERN_PERIOD = 251
CHUNK = 1 << 16
# One period more than a chunk, so every chunk is one slice of it.
_PATTERN = bytes(range(PATTERN_PERIOD)) * (CHUNK // PATTERN_PERIOD + 2)


def generated_chunks(size):
    offset = 0
    while offset < size:
        length = min(CHUNK, size - offset)
        start = offset % PATTERN_PERIOD
        yield _PATTERN[start:start + length]
        offset += length


def content_response(fields, content_type, content_key="content", size_key="size"):
    """200 with the record's body: the text under `content_key`, else `size_key` generated
    bytes, else an empty body."""
    response = Response(200, b"", content_type=content_type)
    if content_key in fields:
        response.body = str(fields[content_key]).encode("utf-8")
    elif size_key in fields:
        response.set_stream(int(fields[size_key]), generated_chunks(int(fields[size_key])))
    return response


@functools.lru_cache(maxsize=64)
def _generated_md5(size):
    digest = hashlib.md5()
    for chunk in generated_chunks(size):
        digest.update(chunk)
    return digest.hexdigest()


def content_size_and_md5(fields, content_key="content", size_key="size"):
    """The length and MD5 digest (hexadecimal) of the body content_response gives, as Drive
    announces them in "fileSize" and "md5Checksum"."""
    if content_key in fields:
        body = str(fields[content_key]).encode("utf-8")
        return len(body), hashlib.md5(body).hexdigest()
    if size_key in fields:
        size = int(fields[size_key])
        return size, _generated_md5(size)
    return 0, hashlib.md5(b"").hexdigest()
