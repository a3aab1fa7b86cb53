"""The demo run: publishes a signed demo setup on five local mirrors of
different speeds with tools/publish_versioninfo.py, runs the online setup
under Wine and tells what happened, down to which mirror won the race."""
import argparse
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
import e2e_rig  # noqa: E402

PUBLISH = os.path.join(HERE, "..", "tools", "publish_versioninfo.py")
SETUP_NAME = "TARNWICK-SETUP.EXE"
# The programs started from here on run on a virtual desktop, where Wine draws
# the window's frame and caption (no window manager runs on the virtual
# display). The demo's prefix is its own, so the setting is prefix-wide: the
# per-program form (AppDefaults\<exe>\Explorer) is not honoured for 32-bit
# programs in a 64-bit prefix.
DESKTOP_KEYS = [
    (r"HKCU\Software\Wine\Explorer", "Desktop", "TarnwickDemo"),
    (r"HKCU\Software\Wine\Explorer\Desktops", "TarnwickDemo", "800x600"),
]


def publish(rig, mirror_urls, sleep_interval):
    """The setup on the mirrors and the version-info file on the version server, by the tool."""
    setup = os.path.join(rig.work, "publish", SETUP_NAME)
    os.makedirs(os.path.dirname(setup), exist_ok=True)
    shutil.copyfile(rig.setups["good"], setup)
    shutil.copyfile(setup, os.path.join(rig.mirror_docroot, SETUP_NAME))
    target = os.path.join(rig.version_docroot, "tarnwick.std", "versioninfo.ini")
    os.makedirs(os.path.dirname(target), exist_ok=True)
    command = [sys.executable, PUBLISH, "write", "-o", target, "--setup", setup,
               "--sleep-interval", str(sleep_interval)]
    for url in mirror_urls:
        command += ["--mirror", url]
    print("   $ tools/publish_versioninfo.py write -o .../versioninfo.ini --setup %s --mirror ... (5)"
          " --sleep-interval %d" % (SETUP_NAME, sleep_interval))
    subprocess.run(command, check=True)


def whole_body_mirrors(rig):
    """The slots of the mirrors that sent the whole setup, from what the mirrors saw."""
    return [slot for slot, mirror in enumerate(rig.mirrors)
            if any(r["body_size"] and r["body_sent"] == r["body_size"] for r in list(mirror.requests))]


def shown_window(rig):
    """The X window of the shown main window on the virtual desktop (frame included), or None."""
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Tarnwick Online Setup$"],
                           env=rig.env, capture_output=True, text=True)
    ids = found.stdout.split()
    return ids[-1] if ids else None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--state", required=True)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--port-base", type=int, default=18443,
                        help="version server; the error-log server takes the next port")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)

    version_host = "localhost:%d" % args.port_base
    errorlog_host = "localhost:%d" % (args.port_base + 1)
    rig = e2e_rig.Rig(args.state, args.bin, version_host, errorlog_host)
    print("== signing the demo setup with a throwaway certificate (CN=Orlenhaus) and starting the servers")
    rig.start()
    try:
        rig.clean_temp()
        for key, name, value in DESKTOP_KEYS:
            rig.reg(key, name, ("REG_SZ", value))
        # Five mirrors, throttled to 150, 300, 450, 600 and 750 kB/s: once the
        # lead passes 262,144 bytes, the race picks the one that receives the
        # most in a short window.
        urls = ["http://127.0.0.1:%d/{name}?rate=%d" % (rig.mirrors[i].port, 150000 * (i + 1))
                for i in range(5)]
        print("== publishing the demo setup")
        publish(rig, urls, sleep_interval=100)
        print("   version server  https://%s/tarnwick.std/versioninfo.ini" % version_host)
        for i, url in enumerate(urls):
            print("   mirror %d        %s" % (i + 1, url.replace("{name}", SETUP_NAME)))
        print("   error-log server https://%s/error/app.php" % errorlog_host)

        print("== running %s (%s) under Wine" % (rig.exe, e2e_rig.pe_machine(rig.exe)))
        shot = os.path.join(args.out, "download.png")
        taken = []

        def screenshot(r):
            if taken:
                return False
            window = shown_window(r)
            if window and r.mirrors and any(m.requests for m in r.mirrors):
                time.sleep(0.8)
                subprocess.run(["import", "-window", window, shot], env=r.env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                taken.append(shot)
            return False

        result = rig.run(close_when=screenshot)
        print("   version requests: %d, user agent %r" % (
            len(rig.version_server.requests),
            rig.version_server.requests[0]["headers"].get("User-Agent") if rig.version_server.requests else None))
        for i, mirror in enumerate(rig.mirrors):
            sent = [r["body_sent"] for r in list(mirror.requests) if r["body_size"]]
            print("   mirror %d answered %d request(s), sent %s bytes" % (
                i + 1, len(mirror.requests), " + ".join(str(n) for n in sent) or "no"))
        winners = whole_body_mirrors(rig)
        if len(winners) == 1:
            print("   the race was won by mirror %d: the only one that sent the whole setup" % (winners[0] + 1))
        else:
            print("   mirrors that sent the whole setup: %s" % (", ".join(str(w + 1) for w in winners) or "none"))
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
