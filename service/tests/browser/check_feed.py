#!/usr/bin/python3
"""Reads an Atom feed of torvo-service with Debian's feedparser and says what it holds.

    check_feed.py URL

Prints one JSON object: status, bozo (the parser's complaint, or null), the feed's title, and
each entry's title, links (rel -> href), enclosures (href, type) and content, newest first. The
browser test compares it with what the album shows.
"""
import json
import sys
import urllib.request

import feedparser


def main():
    url = sys.argv[1]
    try:
        with urllib.request.urlopen(url, timeout=10) as reply:
            status, body, kind = reply.status, reply.read(), reply.headers.get("Content-Type", "")
    except urllib.error.HTTPError as error:
        print(json.dumps({"status": error.code}))
        return
    parsed = feedparser.parse(body, response_headers={"content-type": kind})
    entries = []
    for entry in parsed.entries:
        entries.append({
            "id": entry.get("id"),
            "title": entry.get("title"),
            "title_type": entry.get("title_detail", {}).get("type"),
            "links": {link.get("rel"): link.get("href") for link in entry.get("links", []) if link.get("rel") != "enclosure"},
            "enclosures": [{"href": e.get("href"), "type": e.get("type")} for e in entry.get("enclosures", [])],
            "content": entry.get("content", [{}])[0].get("value", ""),
            "updated": entry.get("updated"),
        })
    print(json.dumps({
        "status": status,
        "type": kind,
        "bozo": str(parsed.get("bozo_exception")) if parsed.bozo else None,
        "version": parsed.version,
        "title": parsed.feed.get("title"),
        "entries": entries,
    }, ensure_ascii=False))


if __name__ == "__main__":
    main()
