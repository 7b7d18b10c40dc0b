#!/usr/bin/env python3
"""Holds `updpack plan --json` against what the real updater then did to the installation.

Usage: plan_agreement.py PLAN_JSON BEFORE AFTER OUTCOME
BEFORE and AFTER are listings of the installation (tab-separated: path, then "folder" or size, time, mode,
digest). Every item's verdict must match the change of its target, the outcome must match the run, , the
outcome must be OUTCOME (what the run showed), and every change on disk must be claimed by an item. Prints one line per item; exit status 1 on any
disagreement.
"""
import hashlib
import json
import os
import sys


def listing(path):
    files = {}
    with open(path, encoding="utf-8") as lines:
        for line in lines:
            fields = line.rstrip("\n").split("\t")
            files[fields[0]] = tuple(fields[1:])
    return files


def digest(path):
    """The listing's content digest: the first 12 hex digits of the SHA-1."""
    with open(path, "rb") as data:
        return hashlib.sha1(data.read()).hexdigest()[:12]


def main():
    plan = json.load(open(sys.argv[1], encoding="utf-8"))
    before, after = listing(sys.argv[2]), listing(sys.argv[3])
    problems = []
    claimed = set()

    def state(files, path):
        return files.get(os.path.normpath(path)) if path else None

    def check(item, agrees, what):
        target = item.get("target")
        print("%-13s %-16s %s" % (item["key"], item["verdict"], target or ""))
        if not agrees:
            problems.append("%s: the plan says %s (%s), but %s" % (item["key"], item["verdict"], item["text"], what))

    changed = sorted(p for p in set(before) | set(after) if before.get(p) != after.get(p))
    describe = lambda path: "%s went from %s to %s" % (path, state(before, path), state(after, path))

    # A file's state: size, time, mode, digest; a folder's: ("folder",).
    for item in plan["items"]:
        verdict, target = item["verdict"], item.get("target")
        if target:
            target = os.path.normpath(target)
            claimed.add(target)
        old, new = state(before, target), state(after, target)
        if item.get("createsFolder"):
            folder = os.path.normpath(item["createsFolder"])
            claimed.add(folder)
            if plan["outcome"] == "completes" and after.get(folder) != ("folder",):
                problems.append("%s: the plan creates %s, but it is not there" % (item["key"], folder))
        if plan["outcome"] != "completes":
            # All or nothing: a run that does not complete leaves every file as it was.
            check(item, True, "")
            continue
        if verdict in ("filtered", "not-reached", "no-data-folder"):
            check(item, True, "")
        elif verdict == "new":
            check(item, old is None and new is not None and new != ("folder",), describe(target))
        elif verdict == "replaced":
            check(item, bool(old and new and len(new) > 1 and (new[1] != old[1] or new[3] != old[3])),
                  describe(target))
        elif verdict == "patched":
            # Built from the installed file, which it replaces with other content.
            check(item, bool(old and new and len(new) > 1 and new[3] != old[3]), describe(target))
        elif verdict in ("kept-later", "skipped-missing", "data-read-only", "data-unreadable"):
            check(item, old == new or bool(old and new and len(new) > 1 and old[1] == new[1] and old[3] == new[3]),
                  describe(target))
        elif verdict == "data-kept":
            check(item, bool(old and new and len(new) > 1 and old[3] == new[3] and old[1] != new[1]), describe(target))
        elif verdict == "copied-file":
            source = os.path.join(item["discFolders"][0], item["path"].replace("\\", "/"))
            check(item, bool(new and len(new) > 1 and new[3] == digest(source)), describe(target))
        elif verdict == "copied-folder":
            # Every file of the disc's folder arrives under the installation folder, merged with what is there.
            name = item["path"].replace("\\", "/")
            source = os.path.join(item["discFolders"][0], name)
            claimed.add(os.path.join(target, name))
            missing = []
            for folder, _, files in os.walk(source):
                for file in files:
                    relative = os.path.relpath(os.path.join(folder, file), item["discFolders"][0])
                    installed = state(after, os.path.join(target, relative))
                    claimed.add(os.path.normpath(os.path.join(target, relative)))
                    if not installed or len(installed) < 4 or installed[3] != digest(os.path.join(folder, file)):
                        missing.append(relative)
            check(item, not missing, "the disc's %s did not arrive whole" % ", ".join(missing))
        else:
            check(item, False, "no run can show the verdict " + verdict)

    if plan["outcome"] in ("completes",):
        for path in changed:
            if path not in claimed and not any(path.startswith(c + "/") for c in claimed):
                problems.append("no item of the plan claims the change: " + describe(path))
    else:
        for path in changed:
            problems.append("the plan's outcome is %s, yet %s" % (plan["outcome"], describe(path)))

    if plan["outcome"] != sys.argv[4]:
        problems.append("the plan's outcome is %s, the run's %s" % (plan["outcome"], sys.argv[4]))
    print("outcome: %s; %d changes on disk" % (plan["outcome"], len(changed)))
    for problem in problems:
        print("DISAGREES: " + problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
