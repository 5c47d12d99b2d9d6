"""What the outside readers of a Jet 4 file do not look at, read from its pages here: the counts in the
definition of Maps (its rows, and the distinct keys of its index) and page 1's map of free pages, which must mark
every page that holds nothing and none of Maps' rows or index. Only for files the program wrote, which zero the
pages they free; the Jet files that another library made keep a count of keys that deletions never lowered."""
import struct

PAGE = 4096


def maps_definition(data):
    """The page number and page of the definition of Maps: the user table whose names are Number and Data."""
    for start in range(0, len(data), PAGE):
        page = data[start:start + PAGE]
        if page[0] == 2 and page[0x28] == 0x4E and "Number".encode("utf-16-le") in page and \
                "Data".encode("utf-16-le") in page:
            return start // PAGE, page
    raise ValueError("no table Maps")


def free_pages(data):
    """The pages below the file's end that page 1's map marks free (an inline map: type, first page, bits)."""
    page = data[PAGE:2 * PAGE]
    start = struct.unpack_from("<H", page, 14)[0] & 0x1FFF
    row = page[start:]
    assert row[0] == 0, "page 1's map is inline"
    first = struct.unpack_from("<I", row, 1)[0]
    pages = len(data) // PAGE
    return {first + 8 * i + bit for i, byte in enumerate(row[5:]) for bit in range(8)
            if byte >> bit & 1 and first + 8 * i + bit < pages}


def page_differences(path, expected):
    """How the file's counts and map of free pages differ from what `expected` (number, data) needs."""
    data = open(path, "rb").read()
    number, definition = maps_definition(data)
    found = []
    rows, keys = struct.unpack_from("<I", definition, 0x10)[0], struct.unpack_from("<I", definition, 0x3F + 4)[0]
    if rows != len(expected):
        found.append(f"the definition counts {rows} rows, not {len(expected)}")
    if keys != len({n for n, _ in expected}):
        found.append(f"the index counts {keys} keys, not {len({n for n, _ in expected})}")
    pages = [data[p * PAGE:(p + 1) * PAGE] for p in range(len(data) // PAGE)]
    empty = {p for p in range(1, len(pages)) if not any(pages[p])}
    owned = {p for p in range(1, len(pages)) if pages[p][0] in (1, 3, 4) and
             struct.unpack_from("<I", pages[p], 4)[0] == number}
    free = free_pages(data)
    if not empty <= free:
        found.append(f"pages {sorted(empty - free)[:8]} hold nothing, but are not marked free")
    if free & owned:
        found.append(f"pages {sorted(free & owned)[:8]} of Maps are marked free")
    return found
