"""The demo run: publishes a signed demo setup on five local mirrors of
different speeds, runs the online setup under Wine and tells what happened."""
import argparse
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
import e2e_rig  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--state", required=True)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)

    rig = e2e_rig.Rig(args.state, args.bin, "localhost:18443", "localhost:18444")
    print("== signing the demo setup with a throwaway certificate (CN=Orlenhaus) and starting the servers")
    rig.start()
    try:
        rig.clean_temp()
        # Five mirrors, throttled to 150, 300, 450, 600 and 750 kB/s: the race
        # picks the one that leads past 262,144 bytes.
        urls = [rig.mirror_url(i, "good", rate=150000 * (i + 1)) for i in range(5)]
        rig.publish_version(rig.version_text(urls=urls, sleep_interval=100))
        print("   version server  https://localhost:18443/tarnwick.std/versioninfo.ini")
        for i, url in enumerate(urls):
            print("   mirror %d        %s" % (i + 1, url))
        print("   error-log server https://localhost:18444/error/app.php")

        print("== running %s (%s) under Wine" % (rig.exe, e2e_rig.pe_machine(rig.exe)))
        shot = os.path.join(args.out, "download.png")
        taken = []

        def screenshot(r):
            if taken:
                return False
            code, state = r.wintool("state")
            if state.startswith("visible=1") and r.mirrors and any(m.requests for m in r.mirrors):
                time.sleep(0.8)
                subprocess.run(["import", "-window", "root", shot], env=r.env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                taken.append(shot)
            return False

        result = rig.run(close_when=screenshot)
        print("   version requests: %d, user agent %r" % (
            len(rig.version_server.requests),
            rig.version_server.requests[0]["headers"].get("User-Agent") if rig.version_server.requests else None))
        for i, mirror in enumerate(rig.mirrors):
            print("   mirror %d answered %d request(s)" % (i + 1, len(mirror.requests)))
        for trace in result.traces:
            print("   trace: %s" % trace["text"])
        print("   exit code: %d after %.1f s" % (result.exit_code, result.elapsed))
        print("   error reports: %d" % len(result.reports))
        if taken and os.path.exists(shot):
            print("   screenshot of the window during the download: %s" % shot)
        if result.launches:
            print("== the demo setup was started with the command line: %r" % result.launches[0])
            return 0 if result.exit_code == 0 else 1
        print("== the demo setup was NOT started")
        return 1
    finally:
        rig.stop()


if __name__ == "__main__":
    sys.exit(main())
