#!/usr/bin/python3
"""Radicale for the benchmark: Debian's server unchanged but for the work
that grows with the collection on every PUT.

Before it stores a new member, Radicale makes sure that no other member of the
collection has the same UID, and it does so by reading every member; after it
stored it, it looks through its caches for entries of members that are gone.
So the time of each PUT grows with the collection, and an upload of 10,000
to-dos takes hours whoever sends it. Here the UID check is answered from a set
of the collection's UIDs, read once and kept up to date, and the cache clean-up
is left to the deletes (a PUT deletes nothing), so that the time of an upload
is that of the requests. Run it as radicale:

    radicale_indexed.py --config FILE
"""
import sys

from radicale.__main__ import run
from radicale.storage.multifilesystem import Collection

_uids = {}


def _has_uid(self, uid):
    known = _uids.get(self.path)
    if known is None:
        known = _uids[self.path] = {item.uid for item in self.get_all()}
    return uid in known


_upload = Collection.upload
_delete = Collection.delete


_uploading = False


def _skipped_while_uploading(clean):
    def wrapper(self, *arguments, **options):
        if not _uploading:
            clean(self, *arguments, **options)
    return wrapper


def _indexed_upload(self, href, item):
    global _uploading
    _uploading = True
    try:
        stored = _upload(self, href, item)
    finally:
        _uploading = False
    # A member that replaces another keeps its UID: Radicale refuses a change.
    known = _uids.get(self.path)
    if known is not None:
        known.add(stored.uid)
    return stored


def _indexed_delete(self, href=None):
    _uids.pop(self.path, None)
    return _delete(self, href)


Collection.has_uid = _has_uid
Collection._clean_item_cache = _skipped_while_uploading(Collection._clean_item_cache)
Collection._clean_history = _skipped_while_uploading(Collection._clean_history)
Collection.upload = _indexed_upload
Collection.delete = _indexed_delete

if __name__ == "__main__":
    sys.exit(run())
