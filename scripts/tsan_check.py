#!/usr/bin/env python3
"""Runs one test program built with the thread sanitizer and fails on races
in the project's own code.

Qt and glib are not built with the sanitizer, so the locks of Qt's event
queue and of QThread are invisible to it and it reports Qt's own book-keeping
of queued calls (event objects allocated on one thread and freed on another,
event-loop wake-ups) as races. A report counts when either racing access is
made by the project's code itself: its first frame after the sanitizer's own
interceptor frame lies in this source tree. Known hand-over patterns are in
tsan.supp.
"""
import os
import re
import subprocess
import sys

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(here)
own = [os.path.join(root, d) + os.sep for d in ("src", "submodules", "sim", "tests")]
# A build folder inside the tree compiles with paths relative to it ("../src/...").
own_relative = re.compile(r"(^|\s)(\.\./)+(src|submodules|sim|tests)/")

env = dict(os.environ)
env["TSAN_OPTIONS"] = "exitcode=0 second_deadlock_stack=1 suppressions=" + os.path.join(here, "tsan.supp")
proc = subprocess.run(sys.argv[1:], env=env, stderr=subprocess.PIPE, text=True, errors="replace")
sys.stderr.write(proc.stderr)

frame = re.compile(r"^\s+#(\d+) (.*)$")
access = re.compile(r"^\s+(Previous )?(atomic )?(Read|Write) of size")
ours = 0
reports = proc.stderr.split("WARNING: ThreadSanitizer:")[1:]
for report in reports:
    in_access, counted = False, False
    for line in report.splitlines():
        if access.match(line):
            in_access = True
            continue
        m = frame.match(line)
        if in_access and m:
            text = m.group(2)
            if "libsanitizer" in text:
                continue  # the interceptor itself; look at its caller
            if (any(p in text for p in own) or own_relative.search(text)) and "_autogen" not in text:
                counted = True
            in_access = False
    ours += counted

print(f"thread sanitizer: {len(reports)} report(s), {ours} in project code", file=sys.stderr)
if proc.returncode != 0:
    sys.exit(proc.returncode)
sys.exit(1 if ours else 0)
