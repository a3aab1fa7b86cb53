"""End-to-end runs of the real online setup under Wine against local servers (e2e_rig.py)."""
import contextlib
import itertools
import os
import re
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_rig import (PLANTED_DLLS, PROTOCOL, USER_AGENT, Rig, crc32_of, forge_crc, pe_machine, read,  # noqa: E402
                     sha256_of, wait_for, win_path)

ENGLISH_TITLE = "Tarnwick Online Setup"
LOG = "tarnwick-online-setup.log"
RIG = None


def setUpModule():
    global RIG
    hosts = [os.environ["TW_E2E_VERSION_HOST"], os.environ["TW_E2E_ERRORLOG_HOST"]]
    if not all(h.startswith("localhost:") for h in hosts):  # CMake adds no groups then
        raise RuntimeError("the build's servers are not local test ports: %s" % hosts)
    RIG = Rig(os.environ["TW_TEST_STATE"], os.environ["TW_TEST_BIN"], *hosts)
    RIG.start()


def tearDownModule():
    if RIG is not None:
        RIG.stop()


class Scenario(unittest.TestCase):
    def setUp(self):
        RIG.clean_temp()
        RIG.publish_version(RIG.version_text())

    def assertReport(self, report, log):
        self.assertEqual((report["_path"], report["name"], report["buildDate"], report["version"], report["_agent"]),
                         ("/error/app.php", "tarnwick.online.setup", "20200311", str(PROTOCOL), "XHttp"))
        self.assertEqual(report["log"], log)

    def temp_file(self, name):
        return os.path.join(RIG.temp_folder(), name)

    def watch_failure_window(self, *args, **kw):
        """A run that fails and is closed once its failure shows the link; the last window state and the result."""
        states = []

        def closer(rig):
            states.append(rig.window_state() if rig.errorlog_server.requests else {})
            return states[-1].get("link") == "1"
        result = RIG.run(*args, close_when=closer, timeout=30, **kw)
        self.assertEqual(result.close, "posted")
        return states[-1], result


class SuccessfulRuns(Scenario):
    def test_download_verify_launch_and_exit_0(self):
        result = RIG.run()
        self.assertEqual((result.exit_code, result.launches, result.reports), (0, ["/onlineSetup"], []))
        self.assertTrue(os.path.exists(self.temp_file("tarnwick.versioninfo.ini")))
        # The folder of earlier runs is taken again; the fresh one made to compare its owner with is gone.
        self.assertEqual([n for n in os.listdir(RIG.system_temp()) if "tarnwick" in n], [RIG.folder_name])
        self.assertEqual(crc32_of(self.temp_file("TARNWICK-SETUP.EXE")), crc32_of(RIG.setups["good"]))
        self.assertEqual([r["path"] for r in RIG.version_server.requests], ["/tarnwick.std/versioninfo.ini"])
        self.assertEqual(RIG.version_server.requests[0]["headers"].get("User-Agent"), USER_AGENT)
        self.assertEqual(RIG.mirrors[0].requests[0]["headers"].get("User-Agent"), USER_AGENT + "(XHttpMulti)")
        self.assertEqual([t["text"] for t in result.traces],
                         ["@@rGetUpdateDownloadSectionName() - DOWNLOAD.PRO.X64",
                          "ONLINE-SETUP, StartSetupDownload() - %s, , , , " % RIG.mirror_url(0, "good")])
        for trace in result.traces:
            self.assertEqual((trace["dwData"], trace["cbData"]), (1, (len(trace["text"]) + 1) * 2))

    def test_launch_command_lines_follow_the_switches(self):
        cases = [(["/en"], "/onlineSetup"), (["/jp", "a", "b"], "/onlineSetup"), (["/S", "one", "two"], "/S one two"),
                 (["/S"], "/S  "), (["/S", "/auto"], "/S /auto "), (["/auto"], "/auto  "),
                 (["/auto", "w1", "w2", "w3", "w4"], "/auto w1 w2"), (["/s"], "/onlineSetup")]  # case-sensitive
        for args, expected in cases:
            with self.subTest(args=args):
                RIG.clean_temp()
                result = RIG.run(args)
                self.assertEqual((result.exit_code, result.launches), (0, [expected]))
                self.assertTrue(args[0] != "/S" or result.shown == 0, "a silent run was shown")

    def test_a_file_left_in_temp_is_started_when_its_crc_is_right_else_replaced(self):
        for content, downloads in ((read(RIG.setups["good"]), 0), (b"an older setup", 1)):
            with self.subTest(downloads=downloads):
                with open(self.temp_file("TARNWICK-SETUP.EXE"), "wb") as f:
                    f.write(content)
                result = RIG.run()
                self.assertEqual((result.exit_code, result.launches), (0, ["/onlineSetup"]))
                self.assertEqual(sum(len(m.requests) for m in RIG.mirrors), downloads)
                self.assertEqual(any(t["text"].startswith("ONLINE-SETUP") for t in result.traces), downloads == 1)
                self.assertEqual(crc32_of(self.temp_file("TARNWICK-SETUP.EXE")), crc32_of(RIG.setups["good"]))

    def test_locked_files_get_names_of_their_own(self):
        for held, prefix, pattern in (("TARNWICK-SETUP.EXE", "TARNWICK-SETUP-", r"TARNWICK-SETUP-%08x-[0-9a-f]{8}\.EXE"
                                       % crc32_of(RIG.setups["good"])),
                                      ("tarnwick.versioninfo.ini", "tarnwick.versioninfo.", r"tarnwick\.versioninfo\.\d{11,15}\.ini")):
            with self.subTest(held=held):
                RIG.clean_temp()
                result = RIG.run_holding(RIG.temp_win() + held)
                names = [n for n in os.listdir(RIG.temp_folder()) if n.startswith(prefix) and n != held]
                self.assertEqual((result.exit_code, result.launches, len(names)), (0, ["/onlineSetup"], 1))
                self.assertRegex(names[0], "^%s$" % pattern)

    def test_instances_started_in_the_same_second_both_run_to_the_end(self):
        # A log of their own: the setups they start may write after the next test began.
        launch_log = os.path.join(RIG.work, "concurrent-launches.log")
        env = dict(RIG.env, TW_E2E_LAUNCH_LOG=win_path(launch_log))
        for _ in range(5):  # until both start within one second, as the log's times show
            RIG.clean_temp()
            os.path.exists(launch_log) and os.remove(launch_log)
            with RIG.holding(RIG.temp_win() + "tarnwick.versioninfo.ini"):
                time.sleep(1.05 - time.time() % 1)  # both start early in a second
                runs = [RIG.wine(RIG.exe, "/S", env=env) for _ in range(2)]
                codes = [run.wait(timeout=90) for run in runs]
            log = read(self.temp_file(LOG)).decode("utf-8")
            seconds = [line[:19] for line in log.splitlines() if re.search(r"\] (start|version check http)", line)]
            if len(seconds) == 4 and len(set(seconds)) == 1:
                break
        else:
            self.fail("the two instances never started within one second:\n" + log)
        # Each checked the version through a file of its own, and each started the setup.
        tokens = [n for n in os.listdir(RIG.temp_folder()) if re.match(r"tarnwick\.versioninfo\.\d+\.ini$", n)]
        launched = wait_for(lambda: os.path.exists(launch_log) and read(launch_log).count(b"\n") >= 2, 10)
        self.assertEqual((codes, log.count("] version check ok"), len(tokens), launched), ([0, 0], 2, 2, True), log)

    def test_architecture_section_overrides_the_general_one(self):
        text = RIG.version_text(urls=[RIG.mirror_url(0, "good", status=404)], filename="GENERAL.EXE")
        urls = (RIG.mirror_url(1, "good"), RIG.mirror_url(2, "good"))
        RIG.publish_version(text + "\n[download.pro.x64]\nfilename = SPECIFIC.EXE\nURL1 = %s\nURL2 = %s\n" % urls)
        result = RIG.run()
        self.assertEqual((result.exit_code, len(RIG.mirrors[0].requests)), (0, 0))
        self.assertTrue(os.path.exists(self.temp_file("SPECIFIC.EXE")))
        self.assertFalse(os.path.exists(self.temp_file("GENERAL.EXE")))
        self.assertIn("ONLINE-SETUP, StartSetupDownload() - %s, %s, , , " % urls, [t["text"] for t in result.traces])

    def test_crc_all_ones_skips_the_comparison_and_the_signer_may_go_on(self):
        for setup, crc in (("good", "FFFFFFFF"), ("longer", None), ("multi", None)):
            with self.subTest(setup=setup):
                RIG.clean_temp()
                RIG.publish_version(RIG.version_text(setup=setup, crc=crc))
                result = RIG.run(["/S"], receiver=False)
                self.assertEqual((result.exit_code, result.launches), (0, ["/S  "]), result.logs)

    def test_dlls_planted_beside_the_program_are_never_loaded(self):
        # Wine prefers its own DLLs unless asked for native ones first, as Windows takes a file beside the program.
        overrides = "mscoree,mshtml=;" + ",".join(n[:-4] for n in PLANTED_DLLS) + "=n,b"
        for exe in (RIG.exe, os.path.join(RIG.bindir, "TarnwickOnlineSetup.exe")):  # the i686 release, x86_64
            with self.subTest(machine=pe_machine(exe)):
                RIG.clean_temp()
                copy, loaded = RIG.plant_dlls(exe)
                result = RIG.run(exe=copy, receiver=False, timeout=40, env=dict(WINEDLLOVERRIDES=overrides,
                                                                                TW_E2E_PLANT_LOG=win_path(loaded)))
                self.assertFalse(os.path.exists(loaded) and read(loaded).decode("utf-16-le"))
                self.assertEqual((result.exit_code, result.launches), (0, ["/onlineSetup"]))

    def test_only_http_and_https_mirror_urls_are_used(self):
        urls = [RIG.mirror_url(0, "good").replace("http:", "ftp:"), RIG.mirror_url(1, "good").replace("http:", "file:"),
                RIG.mirror_url(2, "good")[5:], RIG.mirror_url(3, "good").replace("http:", "HTTP:")]
        RIG.publish_version(RIG.version_text(urls=urls))
        result = RIG.run()
        self.assertEqual((result.exit_code, result.launches), (0, ["/onlineSetup"]))
        self.assertEqual([len(m.requests) for m in RIG.mirrors], [0, 0, 0, 1, 0])  # WinINet speaks HTTP to any scheme
        self.assertIn("ONLINE-SETUP, StartSetupDownload() - , , , %s, " % urls[3], [t["text"] for t in result.traces])

    def test_setup_is_started_by_the_path_of_the_file_that_was_verified(self):
        link = RIG.system_temp() + "Link"  # a temporary folder reached by a link
        os.path.lexists(link) and os.remove(link)
        os.symlink(RIG.system_temp(), link)
        try:
            result = RIG.run(receiver=False, win_env=dict(TMP=RIG.temp_win().split("\\Temp\\")[0] + "\\TempLink"))
        finally:
            os.remove(link)
        self.assertEqual((result.exit_code, result.programs), (0, [RIG.temp_win() + "TARNWICK-SETUP.EXE"]))

    def test_window_shows_during_a_throttled_download(self):
        RIG.publish_version(RIG.version_text(urls=[RIG.mirror_url(0, "good", rate=250000)]))
        states = []
        result = RIG.run(close_when=lambda rig: states.append(rig.window_state()))
        self.assertEqual(result.exit_code, 0)
        self.assertIn({"visible": "1", "link": "0"}, [{k: s.get(k) for k in ("visible", "link")} for s in states])


class VersionCheckFailures(Scenario):
    def test_unreachable_version_server_reports_three_times(self):
        RIG.version_server.stop()
        RIG.set_windows_version("win10")  # the prefix's own default is Windows 7
        try:
            result = RIG.run(["/S"])
        finally:
            RIG.version_server.start()
            RIG.set_windows_version(None)
        self.assertEqual((result.exit_code, result.launches, len(result.reports)), (1, [], 3))
        self.assertRegex(result.logs[0], r"^OnXHttpErr\(\) - cannot download version file XHTTPERR:\d+$")
        self.assertRegex(result.logs[1], r"^OnXHttpErr\(\) - cannot download version file SYSERR:\d+, ver_url:"
                         r"https://%s/tarnwick\.std/versioninfo\.ini, os:Windows 10$"
                         % os.environ["TW_E2E_VERSION_HOST"].replace(".", r"\."))
        self.assertReport(result.reports[2], "err - cannot download version file(2)")

    def test_newer_protocol_missing_version_or_unreadable_file_is_refused(self):
        cases = [(RIG.version_text(version=PROTOCOL + 1), "err at using old version"),
                 (RIG.version_text(version=0), "err at using old version"), ("", "err at using old version"),
                 ("[ONLINE_SETUP_VERSION]\nVERSION = 20200204\n", "err at using old version"),
                 ("x" * 1000001, "err at open version file")]  # no section header in the first 100,000 bytes
        for text, log in cases:
            with self.subTest(text=text[:40]):
                RIG.publish_version(text)
                result = RIG.run(["/S"], receiver=False)
                self.assertEqual((result.exit_code, result.launches, len(result.reports)), (1, [], 1))
                self.assertReport(result.reports[0], log)

    def test_version_file_that_cannot_be_created(self):
        os.makedirs(self.temp_file("tarnwick.versioninfo.ini"))
        result = RIG.run(["/S"], receiver=False)
        self.assertEqual((result.exit_code, len(RIG.version_server.requests)), (1, 0))
        self.assertEqual(result.logs, ["err - StartCheckVersion()/XHttp_GetAsync failed, GetLastError()=5, "
                                       "filePathName=%starnwick.versioninfo.ini" % RIG.temp_win()])

    def test_unknown_temporary_folder_is_never_the_current_one(self):
        state, result = self.watch_failure_window(win_env=dict(TMP="C:\\" + "t" * 300))  # Wine cannot name it
        self.assertEqual((result.exit_code, state.get("link"), len(RIG.version_server.requests)), (1, "1", 0))
        self.assertEqual(result.logs, ["err - StartCheckVersion() temporary folder unknown, GetLastError()=206"])
        self.assertEqual(os.listdir(RIG.cwd), [])

    def test_failure_shows_the_link_in_the_users_language_and_exits_1_when_closed(self):
        RIG.publish_version(RIG.version_text(version=PROTOCOL + 1))
        cases = [("de_DE.UTF-8", [], ENGLISH_TITLE, "[Open Webpage]"),  # no German texts: English
                 ("ko_KR.UTF-8", [], "\ud0c0\ub978\uc705 \uc628\ub77c\uc778 \uc124\uce58", "[\ud648\ud398\uc774\uc9c0]"),
                 ("ko_KR.UTF-8", ["/jp"], ENGLISH_TITLE, "[Web\u30da\u30fc\u30b8\u3092\u958b\u304f]")]
        for lang, args, title, link in cases:
            with self.subTest(lang=lang, args=args):
                state, result = self.watch_failure_window(args, lang=lang)
                self.assertEqual((result.exit_code, state.get("title"), state.get("linktext")), (1, title, link))


class DownloadFailures(Scenario):
    def test_failures_are_reported_with_their_numbers(self):
        crc, drop = crc32_of(RIG.setups["good"]) ^ 1, RIG.mirror_url(0, "good", drop_after=600000, rate=1000000)
        race = "err at setupfile file download(3), chonsenURL:%s, id:%d, errLine:%d, httperr:%d, syserr:%s"
        xhttp = "OnXHttpErr() at setupfile file download XHTTPERR:%d"
        cases = [  # version file (None: a folder where the setup file goes), the reports ("N": any system error)
            (RIG.version_text(urls=[RIG.mirror_url(i, "good", status=404) for i in range(3)]),
             [xhttp % 10, race % ("", -1, 541, 10, "N")]),
            (RIG.version_text(urls=[]), [xhttp % 100, race % ("", -1, 282, 0, 0)]),
            (RIG.version_text(urls=[drop]), [race % (drop, 0, 526, 0, 0)]),  # "&" and "=" in it; no ERR once chosen
            (RIG.version_text(crc=crc), ["err - diff crc of the setup file - crc_svr:0x%x, crc_local:0x%x, size_local:%d "
                                         % (crc, crc ^ 1, os.path.getsize(RIG.setups["good"]))]),
            (None, ["err - StartSetupDownload()/XHttpMulti_GetAsync failed, GetLastError()=5, filePathName=%s"
                    "TARNWICK-SETUP.EXE" % RIG.temp_win()])]
        for text, logs in cases:
            with self.subTest(log=logs[-1][:40]):
                RIG.clean_temp()
                RIG.publish_version(text or RIG.version_text())
                if text is None:
                    os.makedirs(self.temp_file("TARNWICK-SETUP.EXE"))
                result = RIG.run(["/S"])
                got = [re.sub(r"syserr:\d+$", "syserr:N", log) if want.endswith(":N") else log
                       for log, want in zip(result.logs, logs)]
                self.assertEqual((result.exit_code, result.launches, got, len(result.logs)), (1, [], logs, len(logs)))
                self.assertNotIn("&drop_after", str([r["_raw_query"] for r in result.reports]))  # values encoded whole
                if "diff crc" in logs[0]:  # the file stays for the next run to delete
                    self.assertIn("updater - CRC\uac00 \ub2e4\ub974\ub2e4..", [t["text"] for t in result.traces])
                    self.assertTrue(os.path.exists(self.temp_file("TARNWICK-SETUP.EXE")))

    def test_file_name_leaving_the_temp_folder_or_naming_a_device_is_not_used(self):
        for name in ("..\\..\\escaped.exe", "sub\\setup.exe", "Nul .exe"):
            with self.subTest(name=name):
                RIG.clean_temp()
                RIG.publish_version(RIG.version_text(filename=name))
                result = RIG.run(["/S"], receiver=False)
                self.assertEqual((result.exit_code, result.launches), (0, ["/S  "]), result.logs)
                self.assertEqual(crc32_of(self.temp_file("TARNWICK-SETUP.EXE")), crc32_of(RIG.setups["good"]))
        self.assertFalse(os.path.exists(os.path.join(RIG.temp_folder(), "..", "..", "escaped.exe")))

    def test_sha256_when_offered_must_match_also_for_a_file_left_in_temp(self):
        good = sha256_of(RIG.setups["good"])
        # Another setup signed by the maker (an older one), padded to the CRC-32 of the current one.
        same_crc = forge_crc(read(RIG.setups["longer"]), crc32_of(RIG.setups["good"]))
        with open(os.path.join(RIG.mirror_docroot, "same-crc.exe"), "wb") as f:
            f.write(same_crc)
        diff = "err - diff sha256 of the setup file - sha_svr:%s, sha_local:%s, size_local:%d "
        cases = [  # SHA256 value, setup served, file left in temp; exit code, error log
            (good.upper(), "good", None, 0, None), (good, "good", same_crc, 0, None),  # not reused: downloaded again
            (good, "same-crc", None, 1, diff % (good, sha256_of(RIG.mirror_docroot + "/same-crc.exe"), len(same_crc))),
            ("abc", "good", None, 1, diff % ("abc", good, os.path.getsize(RIG.setups["good"])))]
        for sha, setup, left, exit_code, log in cases:
            with self.subTest(sha=sha[:8], setup=setup, left=left is not None):
                RIG.clean_temp()
                if left:
                    with open(self.temp_file("TARNWICK-SETUP.EXE"), "wb") as f:
                        f.write(left)
                RIG.publish_version(RIG.version_text(urls=[RIG.mirror_url(0, setup)], sha256=sha))
                result = RIG.run(["/S"], receiver=False)
                self.assertEqual((result.exit_code, result.launches, result.logs),
                                 (exit_code, ["/S  "] if exit_code == 0 else [], [log] if log else []))
                self.assertEqual(len(RIG.mirrors[0].requests), 1)

    def test_links_in_the_temp_folder_are_never_followed(self):
        victim = os.path.join(RIG.work, "victim.dll")  # a file the user could not write
        for name, make_link, exit_code in (("tarnwick.versioninfo.ini", os.symlink, 1), ("tarnwick.versioninfo.ini", os.link, 1),
                                           ("TARNWICK-SETUP.EXE", os.symlink, 0), (LOG, os.symlink, 0), (LOG, os.link, 0)):
            with self.subTest(name=name, link=make_link.__name__):
                RIG.clean_temp()
                with open(victim, "wb") as f:
                    f.write(b"system file")
                make_link(victim, self.temp_file(name))
                result = RIG.run(["/S"], receiver=False)
                self.assertEqual((result.exit_code, read(victim)), (exit_code, b"system file"))
                self.assertEqual(result.launches, ["/S  "] if exit_code == 0 else [])


class SignatureFailures(Scenario):
    def test_bad_signatures_are_never_started(self):
        for setup, log in (("unsigned", "err - VerifyExeSignature() failed"),
                           ("tampered", "err - VerifyExeSignature() failed"),
                           ("other", "err - VerifyExeSignature() signer mismatch, subject:"),
                           ("lower", "err - VerifyExeSignature() signer mismatch, subject:"),
                           ("o-spoof", "err - VerifyExeSignature() signer mismatch, subject:"),
                           ("cn-spoof", "err - VerifyExeSignature() signer mismatch, subject:"),
                           ("dll", "err - LaunchSetup() CreateProcessW failed, GetLastError()=193")):  # no program
            with self.subTest(setup=setup):
                RIG.clean_temp()
                RIG.publish_version(RIG.version_text(setup=setup))
                result = RIG.run(["/S"], receiver=False)
                self.assertEqual((result.exit_code, result.launches, len(result.reports)), (1, [], 1))
                self.assertTrue(result.logs[0].startswith(log), result.logs[0])
                self.assertTrue(os.path.exists(self.temp_file("TARNWICK-SETUP.EXE")))


class Attacks(Scenario):
    """What a program of another account (a standard user's, or the user's unelevated ones) can do in the
    temporary folder while the elevated program runs. Each attack runs for some rounds; none may ever win."""

    def test_nothing_another_account_writes_is_trusted(self):
        temp, victim, loaded = RIG.system_temp(), os.path.join(RIG.work, "victim"), os.path.join(RIG.work, "loaded.log")
        fixed = os.path.join(temp, "tarnwick-online-setup")
        forged = os.path.join(RIG.work, "forged.ini")  # its own mirror, an older setup of the maker, no CRC check
        with open(forged, "w") as f:
            f.write(RIG.version_text(setup="longer", crc="FFFFFFFF", urls=[RIG.mirror_url(1, "longer")]))
        plant_dll = lambda: shutil.copyfile(RIG.planted_dll(pe_machine(RIG.setups["good"])),  # noqa: E731
                                            os.path.join(temp, "version.dll"))
        rows = [  # attack, rounds, planted before the run, the attacker's tw_wintool command, environment, won
            ("version file replaced once closed", 8, None, (RIG.temp_win() + "tarnwick.versioninfo.ini", "replace",
                                                            win_path(forged)), {}, lambda: bool(RIG.mirrors[1].requests)),
            ("the maker's setup planted", 1, lambda: shutil.copyfile(RIG.setups["good"], os.path.join(
                temp, "TARNWICK-SETUP.EXE")), None, {}, lambda: not RIG.mirrors[0].requests),
            ("a DLL beside the setup", 1, plant_dll, None, dict(WINEDLLOVERRIDES="mscoree,mshtml=;version=n,b",
                                                               TW_E2E_PLANT_LOG=win_path(loaded)),
             lambda: os.path.exists(loaded)),
            ("a link in the folder's place", 1, lambda: shutil.rmtree(fixed, ignore_errors=True) or os.symlink(
                victim, fixed), None, {}, lambda: bool(os.listdir(victim))),
            ("the log's lock name held", 1, None, ("Local\\tarnwick-online-setup-log", "mutex"), {},
             lambda: not os.path.exists(self.temp_file(LOG)) or b"] exit code 0" not in read(self.temp_file(LOG))),
        ]
        for attack, rounds, plant, command, env, won in rows:
            with self.subTest(attack=attack):
                outcomes = []
                for _ in range(rounds):
                    RIG.clean_temp()
                    shutil.rmtree(victim, ignore_errors=True)
                    os.makedirs(victim)
                    os.path.exists(loaded) and os.remove(loaded)
                    plant and plant()
                    with RIG.holding(*command) if command else contextlib.nullcontext():
                        result = RIG.run(["/S"], receiver=False, env=env)
                    outcomes.append("won" if won() else "ok" if (result.exit_code, len(result.launches)) == (0, 1)
                                    else "failed: %s" % result.logs)
                self.assertEqual(outcomes, ["ok"] * rounds)
        RIG.clean_temp()


class SetupLog(Scenario):
    def log_events(self):
        """The event texts of the local log, after each line's time and process id; all lines must have them."""
        text = read(self.temp_file(LOG)).decode("utf-8")
        lines = [re.fullmatch(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[pid \d+\] (.*)", line)
                 for line in text.split("\r\n")[:-1]]
        self.assertTrue(text.endswith("\r\n") and None not in lines, text)
        return [line.group(1) for line in lines]

    def test_each_stage_leaves_its_lines_and_a_failure_its_report_text(self):
        def url(setup, query=""):  # a mirror URL with a user name and password
            return RIG.mirror_url(0, setup).replace("//", "//alice:s3,c;ret@") + query

        def download(setup, query="", server_crc=None):
            masked, crc = url(setup, query).replace("alice:s3,c;ret", "***:***"), crc32_of(RIG.setups[setup])
            return ["setup download to %sTARNWICK-SETUP.EXE from mirrors, 1=%s" % (RIG.temp_win(), masked),
                    "mirror 1 chosen: " + masked, "downloaded %d bytes, CRC-32 server 0x%08x, local 0x%08x"
                    % (os.path.getsize(RIG.setups[setup]), crc if server_crc is None else server_crc, crc)]
        crc, sha, drop = crc32_of(RIG.setups["good"]), sha256_of(RIG.setups["good"]), "?drop_after=600000&rate=1000000"
        # Paced, and dropped well after the pick, so that the pick comes before the end: what is left of a body
        # (waiting in the socket) may arrive whole between two of the race's scans, which end it unpicked.
        paced = "?rate=3000000"
        cases = [  # version file (None: none), events after the version check's success (None: no success), exit code
            (RIG.version_text(urls=[url("good", paced)], sha256=sha), download("good", paced) + [
                "SHA-256 server %s, local %s" % (sha, sha), "signature valid, signer: C=DE, O=Orlenhaus, CN=Orlenhaus",
                'launch "%sTARNWICK-SETUP.EXE" /S http://***:***@h/ ' % RIG.temp_win()], 0),
            (None, None, 1),
            (RIG.version_text(urls=[url("good", drop)]), download("good", drop)[:2], 1),
            (RIG.version_text(urls=[url("good", paced)], crc=crc ^ 1), download("good", paced, server_crc=crc ^ 1), 1),
            (RIG.version_text(setup="unsigned", urls=[url("unsigned", paced)]),
             download("unsigned", paced) + ["signature not valid, signer: "], 1)]
        for text, events, exit_code in cases:
            with self.subTest(events=events and events[-1][:30]):
                RIG.clean_temp()
                RIG.publish_version(text)
                result = RIG.run(["/S", "http://bob:pw,1@h/"])  # a URL on the command line is masked by the log itself
                self.assertNotIn("s3,c", str(result.traces))
                logged = self.log_events()
                self.assertRegex(logged[0], r"^start version 20200204 built 2020/03/11 18:09:17, command line: .*"
                                 r"TarnwickOnlineSetup\.exe\"? /S http://\*\*\*:\*\*\*@h/, Windows [^,]+ \(\d+\.\d+\.\d+\), "
                                 r"UI language 0x[0-9a-f]{4} \w+$")
                expected = ["version check https://%s/tarnwick.std/versioninfo.ini" % os.environ["TW_E2E_VERSION_HOST"]]
                expected += [] if events is None else ["version check ok, ONLINE_SETUP_VERSION %d" % PROTOCOL] + events
                expected += ["failure: " + log for log in result.logs]  # the reports' URLs are masked too
                self.assertEqual(logged[1:], expected + ["exit code %d" % exit_code])
                self.assertEqual(result.exit_code, exit_code)

    def test_a_log_that_cannot_be_written_changes_nothing_else(self):
        crc = crc32_of(RIG.setups["good"]) ^ 1
        diff = "err - diff crc of the setup file - crc_svr:0x%x, crc_local:0x%x, size_local:%d " % (
            crc, crc ^ 1, os.path.getsize(RIG.setups["good"]))
        for how, crc_value, expected in (("read-only", None, (0, ["/S  "], [])), ("locked", crc, (1, [], [diff]))):
            with self.subTest(how=how):
                RIG.clean_temp()
                RIG.publish_version(RIG.version_text(crc=crc_value))
                with open(self.temp_file(LOG), "wb") as f:
                    f.write(b"an old line\r\n")
                if how == "read-only":  # Wine, run as root, would write a file without write permission
                    subprocess.run(["chattr", "+i", self.temp_file(LOG)], check=True)
                    try:
                        result = RIG.run(["/S"], receiver=False)
                    finally:
                        subprocess.run(["chattr", "-i", self.temp_file(LOG)], check=True)
                else:
                    result = RIG.run_holding(RIG.temp_win() + LOG, ["/S"], receiver=False)
                self.assertEqual((result.exit_code, result.launches, result.logs), expected)
                self.assertEqual(read(self.temp_file(LOG)), b"an old line\r\n")
                self.assertEqual(sorted(n for n in os.listdir(RIG.temp_folder()) if "tarnwick" in n.lower()),
                                 ["TARNWICK-SETUP.EXE", LOG, "tarnwick.versioninfo.ini"])  # no log by another name

    def test_the_oldest_runs_are_dropped_to_stay_below_256_kib(self):
        line = "2020-01-01 00:00:00.000 [pid 7] %s\r\n"
        old_runs = "".join(line % ("start run %d" % run) + line % ("x" * 100) * 30 for run in range(150))
        for prefill, kept, dropped in ((old_runs, "start run 149", "start run 0"), ("y" * 2 ** 20, None, None)):
            with self.subTest(size=len(prefill)):
                RIG.clean_temp()
                with open(self.temp_file(LOG), "w", newline="") as f:
                    f.write(prefill)
                self.assertEqual(RIG.run(["/S"], receiver=False).exit_code, 0)
                self.assertLess(os.path.getsize(self.temp_file(LOG)), 256 * 1024)
                logged = self.log_events()
                self.assertEqual((logged[0][:6], logged[-1]), ("start ", "exit code 0"))
                self.assertEqual((kept in logged, dropped in logged), (kept is not None, False))


class ClosingAtAnyMoment(Scenario):
    """WM_CLOSE at moments of both transfers, silent or not, reaches the window and ends the run with exit code 0."""

    def test_close_during_every_stage_of_both_transfers(self):
        size, log = os.path.getsize(RIG.setups["good"]), os.path.join(RIG.temp_folder(), LOG)
        started = lambda slot: (lambda rig: bool(rig.mirrors[slot].requests))  # noqa: E731
        version_asked = lambda rig: bool(rig.version_server.requests)  # noqa: E731
        moments = [  # version-server faults, mirror faults per slot, when to close, whether the download ended first
            ("version server answers late", {"delay_ms": "5000"}, [{}], version_asked, False),
            ("version file drips", {"rate": "40", "chunk": "1"}, [{}], version_asked, False),
            ("mirrors answer late", {}, [{"delay_ms": "5000"}] * 2, started(1), False),
            ("during the race", {}, [{"rate": 40000}, {"rate": 30000}], started(1), False),  # the pick 6 s away
            # The loser's server saw it go: the pick stopped it.
            ("after the pick", {}, [{"burst": 300000, "rate": 100000}, {"rate": 20000}],
             lambda rig: started(1)(rig) and rig.mirrors[1].requests[0]["body_size"] is not None, False),
            ("all but the last byte sent", {}, [{"stall_after": size - 1}],
             lambda rig: started(0)(rig) and rig.mirrors[0].requests[0]["body_sent"] == size - 1, False),
            ("after the download", {}, [{}], lambda rig: os.path.exists(log) and b"] downloaded " in read(log), True),
        ]
        # The first failure ends the test: a run that ignores its close may take minutes.
        for (name, faults, mirrors, close_when, downloaded), args in itertools.product(moments * 2, ([], ["/S"])):
            RIG.clean_temp()
            RIG.version_server.faults = dict(faults)
            RIG.publish_version(RIG.version_text(urls=[RIG.mirror_url(i, "good", **f) for i, f in enumerate(mirrors)]))
            result, moment = RIG.run(args, close_when=close_when, timeout=60, launch=downloaded), "%s %s" % (name, args)
            self.assertEqual((result.close, result.exit_code, result.reports), ("posted", 0, []), moment)
            self.assertEqual(result.launches, ["/S  " if args else "/onlineSetup"] if downloaded else [], moment)
            # The servers' side: a body was sent whole only when the close came after the download.
            self.assertEqual(any(r["body_sent"] == size for m in RIG.mirrors for r in m.requests), downloaded, moment)


def local_failures():  # the local log's failure texts, also of reports that never reached the collector
    return re.findall(r"\] failure: (.*)\r\n", read(os.path.join(RIG.temp_folder(), LOG)).decode("utf-8"))


class HostileServers(Scenario):
    def tearDown(self):
        RIG.version_server.faults.clear()
        RIG.errorlog_server.faults.clear()

    def test_hostile_servers_and_version_files_end_the_run_as_failures(self):
        size = os.path.getsize(RIG.setups["good"])
        mirror = lambda **faults: RIG.version_text(urls=[RIG.mirror_url(0, "good", **faults)])  # noqa: E731
        version_failed = "OnXHttpErr() - cannot download version file XHTTPERR:%d"  # then two more reports
        drip = {"rate": "20", "chunk": "1"}  # a byte every 50 ms: 1.2 KiB a minute, more than the stall rule asks
        old_version = RIG.version_text(version=PROTOCOL + 1)  # a failure with one report
        cases = [  # version-server faults ("_collector": the collector's), version file, the first failure (None: the run
            # succeeds), version file left, seconds within which the run ends (60 when not given)
            ({"status": "404"}, None, version_failed % 10, True),
            ({"serve": "/gen/40000000", "nolength": "1"}, None, version_failed % 21, False),  # stopped at the size limit
            (dict(drip, serve="/gen/40000000"), None, version_failed % 14, True, 100),  # the version file's deadline
            ({}, mirror(serve="/gen/8388608", burst=3145728, **drip), "err at setupfile file download(3), chonsenURL:http",
             True, 150),  # chosen after its burst, then too slow
            ({"_collector": dict(drip, serve="/gen/30000000")}, old_version, "err at using old version", True, 25),
            ({"_collector": {"stall_handshake": "1"}}, old_version, "err at using old version", True, 25),
            ({}, RIG.version_text(crc="-1"), "err - diff crc of the setup file - crc_svr:0xffffffff,", True),
            ({"length": "2147483648"}, None, version_failed % 14, True),
            ({"length": "99999999999"}, None, version_failed % 14, True),
            ({"redirect": "file:///C:/windows/win.ini"}, None, version_failed % 9, True),
            ({"redirect": "ftp://127.0.0.1:1/v.ini"}, None, version_failed % 9, True),
            ({"headers": "3000000"}, None, None, True),  # megabytes of headers are taken
            ({}, "[VERSION]\n" + "k=\n" * 10485756, "err at open version file", True),  # fits the size limit, not memory
            ({}, RIG.version_text(urls=[RIG.mirror_url(0, "good", status=404), RIG.mirror_url(1, "good")],
                                  sleep_interval=-1), None, True),  # the second mirror starts after 10 s
            ({}, mirror(length=size - 1000), "err - diff crc of the setup file - crc_svr:", True),  # more than announced
            ({}, mirror(reset_after=400000, rate=2000000), "err at setupfile file download(3)", True),
            ({}, mirror(redirect="file:///C:/windows/win.ini"), "OnXHttpErr() at setupfile file download XHTTPERR:9", True),
        ]
        for faults, text, log, left, *within in cases:
            with self.subTest(faults=faults, text=(text or "")[:40]):
                RIG.clean_temp()
                RIG.version_server.faults = dict(faults)
                RIG.errorlog_server.faults = RIG.version_server.faults.pop("_collector", {})
                RIG.publish_version(text or RIG.version_text())
                result = RIG.run(["/S"], receiver=False, timeout=within[0] if within else 60)
                self.assertEqual((result.exit_code, result.launches), (1, []) if log else (0, ["/S  "]))
                self.assertTrue(log is None or (result.logs or local_failures())[0].startswith(log), result.logs)
                if log and log.startswith(version_failed[:20]):
                    self.assertReport(result.reports[2], "err - cannot download version file(2)")
                self.assertEqual(os.path.exists(self.temp_file("tarnwick.versioninfo.ini")), left)
                if "sleepInterval = -1" in (text or ""):  # the second mirror starts one pause, 10 s, after the first
                    self.assertTrue(9.5 <= RIG.mirrors[1].requests[0]["at"] - RIG.mirrors[0].requests[0]["at"] <= 20)
                # Only a whole body is ever written: after a failed race the file is empty.
                setup = self.temp_file("TARNWICK-SETUP.EXE")
                self.assertIn(os.path.getsize(setup) if os.path.exists(setup) else 0, (0, size - 1000, size))
        # Out of memory on four threads at once, with the program's run-time: one failure, exit code 1.
        RIG.clean_temp()
        result, oom = RIG.run(exe=os.path.join(RIG.bindir, "tw_fatal_probe.exe")), "err - out of memory, size:%d" % (2 ** 63 - 1)
        self.assertEqual((result.exit_code, result.logs, local_failures()), (1, [oom], [oom]))


class ProxyRuns(Scenario):
    def tearDown(self):
        RIG.set_proxy(None)

    def test_squid_open_or_asking_for_a_password_answered_by_the_suite(self):
        squid_log, auth = os.path.join(os.environ["TW_TEST_STATE"], "squid", "access.log"), os.environ["TW_SQUID_AUTH_PORT"]
        version, mirror = "CONNECT " + os.environ["TW_E2E_VERSION_HOST"], "GET " + RIG.mirror_url(0, "good")
        # One send, and after the dialog one more, in which Wine asks twice: without the credentials, then with them.
        typed = lambda request, status: [request + " 407 -"] * 2 + [request + " %d tw" % status]  # noqa: E731
        reports = ["CONNECT %s 407 -" % os.environ["TW_E2E_ERRORLOG_HOST"]] * 3  # they never get a dialog
        refused = ["OnXHttpErr() - cannot download version file XHTTPERR:10"]
        cases = [  # proxy port, dialog answer ("-": cancel), on a hidden station (not silent), exit code, first
            # failure, dialogs answered, what squid saw
            (os.environ["TW_SQUID_PORT"], None, False, 0, [], 0, [version + " 200 -", mirror + " 200 -"]),
            (auth, ("tw", "pw"), False, 0, [], 2, typed(version, 200) + typed(mirror, 200)),
            (auth, ("-", "-"), False, 1, refused, 1, [version + " 407 -"] + reports),
            (auth, ("tw", "bad"), False, 1, refused, 1, typed(version, 407) + reports),
            ("1", None, False, 1, ["OnXHttpErr() - cannot download version file XHTTPERR:6"], 0, []),  # proxy down
            (auth, ("tw", "pw"), True, 1, refused, 0, [version + " 407 -"] + reports),  # nobody would see a dialog
        ]
        for port, answer, hidden, exit_code, failure, dialogs, seen in cases:
            with self.subTest(port=port, answer=answer, hidden=hidden):
                RIG.clean_temp()
                RIG.set_proxy(port)
                offset, answered = os.path.getsize(squid_log), []
                result = RIG.run(["hidden", win_path(RIG.exe)] if hidden else ["/S"], receiver=False, timeout=60,
                                 exe=os.path.join(RIG.bindir, "tw_wintool.exe") if hidden else None,
                                 close_when=lambda rig: answer and answered.append(int(rig.wintool("answer", *answer)[1])))
                self.assertEqual((result.exit_code, result.launches, result.reports, local_failures()[:1], sum(answered)),
                                 (exit_code, ["/S  "] if exit_code == 0 else [], [], failure, dialogs))
                squid = lambda: sorted(read(squid_log)[offset:].decode().splitlines())  # noqa: E731
                wait_for(lambda: squid() == sorted(seen), 5)  # a tunnel is logged when it closes
                self.assertEqual(squid(), sorted(seen))


class OldWindows(Scenario):
    def tearDown(self):
        RIG.set_windows_version(None)
        RIG.set_dpi(96)

    def test_windows_xp_gets_the_notice_and_never_the_server(self):
        RIG.set_windows_version("winxp")
        result = RIG.run(["/S"], timeout=30)
        # A silent run is never shown; the runs below are the watcher's positive control.
        self.assertEqual((result.exit_code, result.reports, len(RIG.version_server.requests), result.shown), (1, [], 0, 0))
        # Shown after a moment, on top for a while; 750 x 530 at 96 DPI, scaled at 144, centred.
        for dpi, width, height in ((96, 750, 530), (144, 1125, 795)):
            with self.subTest(dpi=dpi):
                RIG.set_dpi(dpi)
                states = []

                def closer(rig):
                    states.append(rig.window_state())
                    return states[-1].get("visible") == "1" and states[-1].get("topmost") == "0"
                result = RIG.run(close_when=closer, timeout=30, launch=False)
                self.assertEqual((result.exit_code, len(RIG.version_server.requests), result.shown, result.close),
                                 (0, 0, 1, "posted"))
                state = states[-1]
                self.assertEqual((state["title"], state["mutex"], state["link"], state["linktext"]),
                                 (ENGLISH_TITLE, "1", "1", "[Open Webpage]"))
                left, top, right, bottom = (int(v) for v in state["work"].split(","))
                self.assertEqual(state["rect"], "%d,%d,%d,%d" % ((left + right) // 2 - width // 2,
                                                                 (top + bottom) // 2 - height // 2, width, height))
                x, y, _, link_height = state["linkrect"].split(",")
                self.assertEqual((x, y, link_height), ("20", "10", str(30 * dpi // 96)))


if __name__ == "__main__":
    unittest.main(verbosity=2)
