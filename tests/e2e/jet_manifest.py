"""The rows that the Jet fixtures hold, as (number, blob) in index order, built from their manifests: each record
comes out of mdb-export's maps-ole.mdb, proved by its length, SHA-256 and first bytes in manifest.tsv, and is
compressed afresh by Python's zlib."""
import functools
import hashlib
import os
import zlib

from common import JET_FIXTURES, blob
from jet_readers import in_index_order, mdb_export_rows


def fixture(name):
    return os.path.join(JET_FIXTURES, name)


def lines(name):
    return [line.rstrip("\n").split("\t") for line in open(fixture(name)) if not line.startswith("#")]


def map_data(record):
    """The Data that a map record is stored as: an empty record as an empty value, any other as its blob."""
    return blob(record) if record else b""


def expanded(data):
    return zlib.decompress(data[4:]) if data else b""


@functools.cache
def manifest_records():
    """manifest.tsv's rows in the order added, as (number, record)."""
    stored = mdb_export_rows(fixture("maps-ole.mdb"))
    rows = lines("manifest.tsv")
    if [n for n, _ in stored] != [int(row[0]) for row in rows]:
        raise ValueError("maps-ole.mdb's rows are not manifest.tsv's")
    records = [(n, expanded(data)) for n, data in stored]
    for (n, record), (_, length, digest, head) in zip(records, rows):
        if (len(record), hashlib.sha256(record).hexdigest(), record[:30].hex()) != (int(length), digest, head):
            raise ValueError(f"maps-ole.mdb's map {n} is not manifest.tsv's")
    return records


@functools.cache
def fixture_rows(name):
    """The rows of fixture `name` in index order, from manifest.tsv and derived.tsv; maps-3000.mdb's records,
    of which no manifest keeps more, are only proved to be maps 1 to 3000 of 8 KiB each named "Map <n>"."""
    if name == "empty.mdb":
        return []
    if name == "maps-3000.mdb":
        records = [(n, expanded(data)) for n, data in mdb_export_rows(fixture(name))]
        if [(n, len(r), r[:30]) for n, r in records] != [(n, 8192, f"Map {n}".ljust(30).encode())
                                                          for n in range(1, 3001)]:
            raise ValueError("maps-3000.mdb does not hold maps 1 to 3000 of 8 KiB")
        return [(n, map_data(r)) for n, r in records]
    derived = {row[0]: [int(i) - 1 for i in row[2].split()] for row in lines("derived.tsv")}
    records = manifest_records()
    if name in ("maps-ole.mdb", "maps-memo.mdb", "maps-scores.mdb"):
        kept = records
    else:
        kept = [records[i] for i in derived[name]]
    return in_index_order([(n, map_data(r)) for n, r in kept])
