#!/usr/bin/env python3
"""What an ordinary program of the user could do to the user's temporary
folder while the update tests install, started and stopped by the test:

  --plant DLL NAME   copy DLL, as NAME, into every folder that appears below
                     each --watch folder (as soon as it is seen);
  --swap LINK        LINK is made a symbolic link to --first, a folder of the
                     watcher's own; once a file appears there, the link is
                     re-pointed to --substitute, a folder whose files have
                     the same names.
  --replace PROGRAM  once a file (other than the planted DLL) appears in a
                     new folder below a --watch folder, that folder is
                     renamed and a folder of its name is made in its place,
                     holding PROGRAM under the name of each file it had: what
                     the user's programs could do to a copy that an elevated
                     program makes in the user's temporary folder and starts.

It polls every few milliseconds, writes CONTROL/ready once it has seen the
folders as they were, and ends when CONTROL/stop appears (or after ten
minutes), removing CONTROL/ready. Every planted copy and every swap is
appended to CONTROL/actions.log.
"""
import argparse
import os
import shutil
import time

LIFETIME_S = 600
POLL_S = 0.002


def folders_below(roots):
    found = set()
    for root in roots:
        for folder, _, _ in os.walk(root):
            found.add(folder)
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--control", required=True)
    parser.add_argument("--watch", action="append", default=[])
    parser.add_argument("--plant", nargs=2, metavar=("DLL", "NAME"))
    parser.add_argument("--swap")
    parser.add_argument("--first")
    parser.add_argument("--substitute")
    parser.add_argument("--replace")
    args = parser.parse_args()

    def log(line):
        with open(os.path.join(args.control, "actions.log"), "a") as actions:
            actions.write(line + "\n")

    if args.swap:
        os.symlink(args.first, args.swap)
    known = folders_below(args.watch)
    planted_name = args.plant[1].lower() if args.plant else None
    unreplaced = set()
    swapped = False
    open(os.path.join(args.control, "ready"), "w").close()
    started = time.monotonic()
    try:
        while not os.path.exists(os.path.join(args.control, "stop")):
            if time.monotonic() - started > LIFETIME_S:
                break
            for folder in folders_below(args.watch) - known:
                known.add(folder)
                if args.replace:
                    unreplaced.add(folder)
                if args.plant:
                    try:
                        shutil.copyfile(args.plant[0], os.path.join(folder, args.plant[1]))
                        log("planted " + folder)
                    except OSError:
                        pass  # gone again
            for folder in list(unreplaced):
                try:
                    names = [name for name in os.listdir(folder) if name.lower() != planted_name]
                except OSError:
                    unreplaced.discard(folder)  # gone again
                    continue
                if not names:
                    continue
                unreplaced.discard(folder)
                try:
                    aside = folder + ".renamed-by-watcher"
                    os.rename(folder, aside)
                    known.add(aside)
                    os.mkdir(folder)
                    for name in names:
                        shutil.copyfile(args.replace, os.path.join(folder, name))
                    log("replaced %s (%s)" % (folder, ", ".join(names)))
                except OSError as error:
                    log("could not replace %s: %s" % (folder, error))
            if args.swap and not swapped and os.listdir(args.swap):
                target = os.readlink(args.swap)
                os.unlink(args.swap)
                os.symlink(args.substitute, args.swap)
                swapped = True
                log("swapped %s from %s to %s" % (args.swap, target, args.substitute))
            time.sleep(POLL_S)
    finally:
        os.remove(os.path.join(args.control, "ready"))


if __name__ == "__main__":
    main()
