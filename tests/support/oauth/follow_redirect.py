#!/usr/bin/python3
"""A stand-in browser: fetches the address it is given and follows redirects, as a user who
agrees at once would. Writes the last page to $MAILVANE_TEST_BROWSER_PAGE when that is set."""
import os
import sys
import urllib.request

page = urllib.request.urlopen(sys.argv[1], timeout=30).read().decode(errors="replace")
target = os.environ.get("MAILVANE_TEST_BROWSER_PAGE")
if target:
    with open(target, "w") as out:
        out.write(page)
