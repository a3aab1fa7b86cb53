"""End-to-end runs of the real online setup under Wine against local servers."""
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_rig  # noqa: E402
from e2e_rig import MULTI_AGENT, PROTOCOL, USER_AGENT, crc32_of, wait_for  # noqa: E402

RIG = None
VERSION_URL = None
FAILED_VERSION = "Version check failed. Please download the offline setup file."
FAILED_DOWNLOAD = "Download failed. Please download the offline setup file."


def setUpModule():
    global RIG, VERSION_URL
    version_host = os.environ["TW_E2E_VERSION_HOST"]
    errorlog_host = os.environ["TW_E2E_ERRORLOG_HOST"]
    if not version_host.startswith("localhost:") or not errorlog_host.startswith("localhost:"):
        raise unittest.SkipTest("the build's servers are not local test ports")
    RIG = e2e_rig.Rig(os.environ["TW_TEST_STATE"], os.environ["TW_TEST_BIN"], version_host, errorlog_host)
    RIG.start()
    VERSION_URL = "https://%s/tarnwick.std/versioninfo.ini" % version_host


def tearDownModule():
    if RIG is not None:
        RIG.stop()


class Scenario(unittest.TestCase):
    def setUp(self):
        RIG.clean_temp()
        RIG.publish_version(RIG.version_text())

    def assertReport(self, report, log):
        self.assertEqual(report["_path"], "/error/app.php")
        self.assertEqual(report["name"], "tarnwick.online.setup")
        self.assertEqual(report["buildDate"], "20200311")
        self.assertEqual(report["version"], str(PROTOCOL))
        self.assertEqual(report["log"], log)
        self.assertEqual(report["_agent"], "XHttp")

    def temp_file(self, name):
        return os.path.join(RIG.temp_folder(), name)


class SuccessfulRuns(Scenario):
    def test_download_verify_launch_and_exit_0(self):
        result = RIG.run()
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(result.launches, ["/onlineSetup"])
        self.assertEqual(result.reports, [])
        # Both files stay in the temporary folder.
        self.assertTrue(os.path.exists(self.temp_file("tarnwick.versioninfo.ini")))
        self.assertEqual(crc32_of(self.temp_file("TARNWICK-SETUP.EXE")), crc32_of(RIG.setups["good"]))
        # What the servers saw: the user agents of the two transfers.
        self.assertEqual([r["path"] for r in RIG.version_server.requests], ["/tarnwick.std/versioninfo.ini"])
        self.assertEqual(RIG.version_server.requests[0]["headers"].get("User-Agent"), USER_AGENT)
        self.assertEqual(RIG.mirrors[0].requests[0]["headers"].get("User-Agent"), MULTI_AGENT)
        # The traces a debug receiver gets, in order.
        texts = [t["text"] for t in result.traces]
        self.assertEqual(texts, ["@@rGetUpdateDownloadSectionName() - DOWNLOAD.PRO.X64",
                                 "ONLINE-SETUP, StartSetupDownload() - %s, , , , " % RIG.mirror_url(0, "good")])
        for trace in result.traces:
            self.assertEqual(trace["dwData"], 1)
            self.assertEqual(trace["cbData"], (len(trace["text"]) + 1) * 2)

    def test_launch_command_lines_follow_the_switches(self):
        cases = [
            (["/en"], "/onlineSetup"),
            (["/jp", "a", "b"], "/onlineSetup"),
            (["/S", "one", "two"], "/S one two"),
            (["/S"], "/S  "),
            (["/S", "/auto"], "/S /auto "),
            (["/auto"], "/auto  "),
            (["/auto", "w1", "w2", "w3", "w4"], "/auto w1 w2"),
            (["/s"], "/onlineSetup"),  # switches are case-sensitive
        ]
        for args, expected in cases:
            with self.subTest(args=args):
                RIG.clean_temp()
                result = RIG.run(args, receiver=False)
                self.assertEqual(result.exit_code, 0)
                self.assertEqual(result.launches, [expected])

    def test_right_file_already_in_temp_is_started_without_download(self):
        with open(self.temp_file("TARNWICK-SETUP.EXE"), "wb") as f:
            f.write(e2e_rig._read(RIG.setups["good"]))
        result = RIG.run()
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(result.launches, ["/onlineSetup"])
        self.assertEqual(sum(len(m.requests) for m in RIG.mirrors), 0)
        self.assertFalse(any(t["text"].startswith("ONLINE-SETUP") for t in result.traces))

    def test_file_with_another_crc_is_replaced(self):
        with open(self.temp_file("TARNWICK-SETUP.EXE"), "wb") as f:
            f.write(b"an older setup")
        result = RIG.run()
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(len(RIG.mirrors[0].requests), 1)
        self.assertEqual(crc32_of(self.temp_file("TARNWICK-SETUP.EXE")), crc32_of(RIG.setups["good"]))

    def test_locked_old_file_gets_a_replacement_name(self):
        crc = crc32_of(RIG.setups["good"])
        result = RIG.run_holding(RIG.temp_win() + "TARNWICK-SETUP.EXE")
        self.assertEqual(result.exit_code, 0)
        replaced = [n for n in os.listdir(RIG.temp_folder()) if n.startswith("TARNWICK-SETUP-")]
        self.assertEqual(len(replaced), 1)
        self.assertRegex(replaced[0], r"^TARNWICK-SETUP-%08x-[0-9a-f]{8}\.EXE$" % crc)
        self.assertEqual(result.launches, ["/onlineSetup"])

    def test_locked_version_file_falls_back_to_a_token_name(self):
        result = RIG.run_holding(RIG.temp_win() + "tarnwick.versioninfo.ini")
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(result.launches, ["/onlineSetup"])
        tokens = [n for n in os.listdir(RIG.temp_folder()) if n.startswith("tarnwick.versioninfo.") and
                  n != "tarnwick.versioninfo.ini"]
        self.assertEqual(len(tokens), 1)
        self.assertRegex(tokens[0], r"^tarnwick\.versioninfo\.\d{11,15}\.ini$")

    def test_architecture_section_overrides_the_general_one(self):
        text = RIG.version_text(urls=[RIG.mirror_url(0, "good", status=404)], filename="GENERAL.EXE")
        text += "\n[download.pro.x64]\nfilename = SPECIFIC.EXE\nURL1 = %s\nURL2 = %s\n" % (
            RIG.mirror_url(1, "good"), RIG.mirror_url(2, "good"))
        RIG.publish_version(text)
        result = RIG.run()
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(len(RIG.mirrors[0].requests), 0)
        self.assertTrue(os.path.exists(self.temp_file("SPECIFIC.EXE")))
        self.assertFalse(os.path.exists(self.temp_file("GENERAL.EXE")))
        self.assertIn("ONLINE-SETUP, StartSetupDownload() - %s, %s, , , " % (
            RIG.mirror_url(1, "good"), RIG.mirror_url(2, "good")), [t["text"] for t in result.traces])

    def test_crc_all_ones_skips_the_comparison(self):
        RIG.publish_version(RIG.version_text(crc="FFFFFFFF"))
        result = RIG.run(["/S"])
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(result.launches, ["/S  "])

    def test_signer_name_may_go_on_after_the_maker(self):
        RIG.publish_version(RIG.version_text(setup="longer"))
        result = RIG.run(["/S"])
        self.assertEqual((result.exit_code, result.launches), (0, ["/S  "]))

    def test_window_shows_during_a_throttled_download(self):
        RIG.publish_version(RIG.version_text(urls=[RIG.mirror_url(0, "good", rate=250000)]))
        states = []

        def look(rig):
            code, state = rig.wintool("state")
            states.append(state)
            return False

        result = RIG.run(close_when=look)
        self.assertEqual(result.exit_code, 0)
        self.assertTrue(any(s.startswith("visible=1") and " link=0" in s for s in states), states)


class VersionCheckFailures(Scenario):
    def test_unreachable_version_server_reports_three_times(self):
        RIG.version_server.stop()
        try:
            result = RIG.run(["/S"])
        finally:
            RIG.version_server.start()
        self.assertEqual(result.exit_code, 1)
        self.assertEqual(result.launches, [])
        self.assertEqual(len(result.reports), 3)
        self.assertRegex(result.logs[0], r"^OnXHttpErr\(\) - cannot download version file XHTTPERR:\d+$")
        self.assertRegex(result.logs[1], r"^OnXHttpErr\(\) - cannot download version file SYSERR:\d+, ver_url:%s, os:Windows \S.*$"
                         % VERSION_URL.replace(".", r"\."))
        self.assertReport(result.reports[2], "err - cannot download version file(2)")

    def test_status_404(self):
        RIG.publish_version(None)
        result = RIG.run(["/S"])
        self.assertEqual(result.exit_code, 1)
        self.assertEqual(result.logs[0], "OnXHttpErr() - cannot download version file XHTTPERR:10")
        self.assertEqual(result.logs[2], "err - cannot download version file(2)")
        self.assertEqual(sum(len(m.requests) for m in RIG.mirrors), 0)

    def test_newer_protocol_or_missing_version_is_refused(self):
        for version_text in (RIG.version_text(version=PROTOCOL + 1), RIG.version_text(version=0), "",
                             "[ONLINE_SETUP_VERSION]\nVERSION = 20200204\n"):
            with self.subTest(text=version_text[:40]):
                RIG.publish_version(version_text)
                result = RIG.run(["/S"], receiver=False)
                self.assertEqual(result.exit_code, 1)
                self.assertEqual(len(result.reports), 1)
                self.assertReport(result.reports[0], "err at using old version")
                self.assertEqual(result.launches, [])

    def test_unreadable_version_file(self):
        # Over 1,000,000 bytes without a section header in the first 100,000.
        RIG.publish_version(raw=b"x" * 1000001)
        result = RIG.run(["/S"], receiver=False)
        self.assertEqual(result.exit_code, 1)
        self.assertEqual(result.logs, ["err at open version file"])

    def test_version_file_that_cannot_be_created(self):
        os.makedirs(self.temp_file("tarnwick.versioninfo.ini"))
        result = RIG.run(["/S"], receiver=False)
        self.assertEqual(result.exit_code, 1)
        self.assertEqual(len(result.reports), 1)
        self.assertEqual(result.logs[0], "err - StartCheckVersion()/XHttp_GetAsync failed, GetLastError()=5, "
                         "filePathName=%starnwick.versioninfo.ini" % RIG.temp_win())
        self.assertEqual(len(RIG.version_server.requests), 0)

    def test_failure_shows_the_link_and_exits_1_when_closed(self):
        RIG.publish_version(RIG.version_text(version=PROTOCOL + 1))
        states = []

        def closer(rig):
            if not rig.errorlog_server.requests:
                return False
            time.sleep(0.5)
            states.append(rig.wintool("state")[1])
            return True

        result = RIG.run(close_when=closer, receiver=False)
        self.assertEqual(result.exit_code, 1)
        self.assertTrue(states and "link=1" in states[0] and "linktext=[Open Webpage]" in states[0], states)


class DownloadFailures(Scenario):
    def test_all_mirrors_failing(self):
        RIG.publish_version(RIG.version_text(urls=[RIG.mirror_url(i, "good", status=404) for i in range(3)]))
        result = RIG.run(["/S"])
        self.assertEqual(result.exit_code, 1)
        self.assertEqual(result.logs[0], "OnXHttpErr() at setupfile file download XHTTPERR:10")
        self.assertRegex(result.logs[1], r"^err at setupfile file download\(3\), chonsenURL:, id:-1, errLine:541, "
                                         r"httperr:10, syserr:\d+$")
        self.assertEqual(result.launches, [])

    def test_no_mirror_urls(self):
        RIG.publish_version(RIG.version_text(urls=[]))
        result = RIG.run(["/S"], receiver=False)
        self.assertEqual(result.exit_code, 1)
        self.assertEqual(result.logs, ["OnXHttpErr() at setupfile file download XHTTPERR:100",
                                       "err at setupfile file download(3), chonsenURL:, id:-1, errLine:282, "
                                       "httperr:0, syserr:0"])

    def test_chosen_mirror_dropping_reaches_the_report_whole(self):
        # The URL carries "&" and "=": the report must deliver the log text whole.
        url = RIG.mirror_url(0, "good", drop_after=300000, rate=2000000)
        RIG.publish_version(RIG.version_text(urls=[url]))
        result = RIG.run(["/S"], receiver=False)
        self.assertEqual(result.exit_code, 1)
        self.assertEqual(len(result.reports), 1)  # no ERR for a chosen mirror that drops
        self.assertEqual(result.logs[0], "err at setupfile file download(3), chonsenURL:%s, id:0, errLine:526, "
                                         "httperr:0, syserr:0" % url)
        self.assertNotIn("&drop_after", result.reports[0]["_raw_query"])

    def test_crc_mismatch(self):
        crc = crc32_of(RIG.setups["good"]) ^ 1
        RIG.publish_version(RIG.version_text(crc=crc))
        result = RIG.run(["/S"])
        self.assertEqual(result.exit_code, 1)
        size = os.path.getsize(RIG.setups["good"])
        self.assertEqual(result.logs, ["err - diff crc of the setup file - crc_svr:0x%x, crc_local:0x%x, "
                                       "size_local:%d " % (crc, crc ^ 1, size)])
        self.assertIn("updater - CRC가 다르다..", [t["text"] for t in result.traces])
        self.assertTrue(os.path.exists(self.temp_file("TARNWICK-SETUP.EXE")))
        self.assertEqual(result.launches, [])

    def test_setup_file_that_cannot_be_created(self):
        os.makedirs(self.temp_file("TARNWICK-SETUP.EXE"))
        result = RIG.run(["/S"], receiver=False)
        self.assertEqual(result.exit_code, 1)
        self.assertEqual(result.logs, ["err - StartSetupDownload()/XHttpMulti_GetAsync failed, GetLastError()=5, "
                                       "filePathName=%sTARNWICK-SETUP.EXE" % RIG.temp_win()])

    def test_file_name_leaving_the_temp_folder_is_not_used(self):
        RIG.publish_version(RIG.version_text(filename="..\\..\\escaped.exe"))
        result = RIG.run(["/S"], receiver=False)
        self.assertEqual(result.exit_code, 0)
        self.assertTrue(os.path.exists(self.temp_file("TARNWICK-SETUP.EXE")))
        self.assertFalse(os.path.exists(os.path.join(RIG.temp_folder(), "..", "..", "escaped.exe")))


class SignatureFailures(Scenario):
    def test_bad_signatures_are_never_started(self):
        cases = [("unsigned", "err - VerifyExeSignature() failed"),
                 ("tampered", "err - VerifyExeSignature() failed"),
                 ("other", "err - VerifyExeSignature() signer mismatch, subject:"),
                 ("lower", "err - VerifyExeSignature() signer mismatch, subject:")]
        for setup, log in cases:
            with self.subTest(setup=setup):
                RIG.clean_temp()
                RIG.publish_version(RIG.version_text(setup=setup))
                result = RIG.run(["/S"], receiver=False)
                self.assertEqual(result.exit_code, 1)
                self.assertEqual(result.launches, [])
                self.assertEqual(len(result.reports), 1)
                self.assertTrue(result.logs[0].startswith(log), result.logs[0])
                self.assertTrue(os.path.exists(self.temp_file("TARNWICK-SETUP.EXE")))


class OldWindows(Scenario):
    def tearDown(self):
        RIG.set_windows_version(None)

    def test_windows_xp_never_contacts_the_server(self):
        RIG.set_windows_version("winxp")
        result = RIG.run(["/S"], receiver=False, timeout=30)
        self.assertEqual(result.exit_code, 1)
        self.assertEqual(len(RIG.version_server.requests), 0)
        self.assertEqual(result.reports, [])

        states = []

        def closer(rig):
            code, state = rig.wintool("state")
            if state.startswith("visible=1"):
                states.append(state)
                return True
            return False

        result = RIG.run(close_when=closer, receiver=False, timeout=30)
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(len(RIG.version_server.requests), 0)
        self.assertIn("link=1 linktext=[Open Webpage]", states[0])


if __name__ == "__main__":
    unittest.main(verbosity=2)
