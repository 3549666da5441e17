"""The update check end to end: the built updater asks the scripted upgrade
service, downloads, prompts, verifies and installs, or does not."""

import json
import os
import re
import shutil
import subprocess
import sys

from updater_e2e import (INSTALL_ID, PROMPT, Config, Display, UpdaterTest, main, wait_until)


def answer(url, md5, version):
    return {"code": 200, "data": {"url": url, "md5": md5, "version": version}}


class UpdateCheckTest(UpdaterTest):

    def test_same_version_downloads_nothing(self):
        payload, digest = self.probe_installer()
        url = self.serve_installer("1.2.0", payload)
        body = self.answer_upgrade(answer(url, digest, "1.2.0"))
        self.start_updater()
        self.wait_until_check_finished()

        request = self.wait_for_upgrade_request()
        self.assertEqual(request.header("Content-Type"), "application/json")
        members = re.fullmatch(
            r'\{"appId":"lo\.vomi\.kesto\.tillbox","deviceId":"(.*)","networkType":"","appVersion":"1\.2\.0",'
            r'"platform":"PC","osVersion":"([^"]+)","brand":"","model":"","appBuildNo":"local","city":""\}',
            request.body.decode())
        self.assertIsNotNone(members, request.body)
        self.assertEqual(members.group(1), INSTALL_ID)
        self.assertEqual(request.header("User-Agent"),
                         "Tovrin/1 PC/1 %s Halvex/1.2.0 ID/%s" % (members.group(2), INSTALL_ID))

        self.assertEqual(self.server.requests_to("/installer/1.2.0"), [])
        log = self.log()
        self.assertIn("\r\n isTesting : NO\r\nresp body:" + body.decode(), log)
        self.assertNotIn("Downloaded new product", log)

    def test_testing_environment_asks_the_testing_endpoint(self):
        self.write_settings("testing")
        body = self.answer_upgrade(answer("http://127.0.0.1:1/x", "0" * 32, "1.2.0"), path="/testing/upgrade")
        self.start_updater()
        self.wait_for_upgrade_request(path="/testing/upgrade")
        self.wait_for_log("\r\n isTesting : YES\r\nresp body:" + body.decode())
        self.assertEqual(self.server.requests_to("/upgrade"), [])

    def test_other_environment_values_ask_production(self):
        self.write_settings("Testing")
        body = self.answer_upgrade(answer("http://127.0.0.1:1/x", "0" * 32, "1.2.0"))
        self.start_updater()
        self.wait_for_upgrade_request()
        self.wait_for_log("\r\n isTesting : NO\r\nresp body:" + body.decode())
        self.assertEqual(self.server.requests_to("/testing/upgrade"), [])

    def test_version_that_is_no_file_name_downloads_nothing(self):
        payload, digest = self.probe_installer()
        url = self.serve_installer("evil", payload)
        self.answer_upgrade(answer(url, digest, "../1.3.0"))
        self.start_updater()
        self.wait_until_check_finished()
        self.assertEqual(self.server.requests_to("/installer/evil"), [])
        log = self.log()
        self.assertIn("\r\n unusable version:../1.3.0", log)
        self.assertNotIn("Downloaded new product", log)

    def test_answer_is_read_up_to_its_first_zero_byte(self):
        payload, digest = self.probe_installer()
        url = self.serve_installer("1.3.0", payload)
        body = json.dumps(answer(url, digest, "1.3.0")).encode()
        # The log shows the answer cut inside the version string: no JSON there.
        self.answer_upgrade(body.replace(b'"1.3.0"', b'"1.3.0\0"'))
        self.start_updater()
        self.wait_until_check_finished()
        self.assertIn("resp body:" + body.decode().split('"1.3.0"')[0] + '"1.3.0', self.log())
        self.assertEqual(self.server.requests_to("/installer/1.3.0"), [])
        self.assertNotIn("Downloaded new product", self.log())

    def test_failed_download_shows_no_prompt(self):
        self.answer_upgrade(answer("http://127.0.0.1:1/installer", "0" * 32, "1.3.0"))
        updater = self.start_updater(stderr=subprocess.PIPE)
        self.wait_until_check_finished()
        log = self.log()
        self.assertIn("\r\n Downloaded new product", log)
        self.assertNotIn("MD5", log)
        # The download created the file before it failed.
        self.assertEqual(os.path.getsize(self.installer_path("1.3.0")), 0)
        if not Config.wine:
            # Without a display the prompt would have gone to standard error.
            updater.kill()
            self.assertNotIn(PROMPT, updater.communicate()[1].decode())


class InstallTest(UpdaterTest):
    """Cases with the prompt, on a display of their own."""

    def setUp(self):
        super().setUp()
        self.display = Display(self.env, os.path.join(self.root, "display.log")).__enter__()
        self.addCleanup(self.display.__exit__, None, None, None)
        self.env["DISPLAY"] = self.display.name
        if Config.wine:
            # A wineserver keeps the display it was started with.
            self.addCleanup(self._end_wineserver)
            self._end_wineserver()

    def wine_prefix(self):
        prefix = os.path.join(Config.build_dir, "update_flow_display_prefix")
        shared = super().wine_prefix()
        # A copy of a made prefix costs seconds, making one far more; with no
        # prefix to copy, scripts/wine-run makes this one on first use.
        if not os.path.exists(os.path.join(prefix, "system.reg")) and os.path.exists(os.path.join(shared, "system.reg")):
            shutil.rmtree(prefix, ignore_errors=True)
            shutil.copytree(shared, prefix, symlinks=True)
        return prefix

    def _end_wineserver(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, stderr=subprocess.DEVNULL)

    def installed(self, version, upgrade_answer):
        """Runs the whole installation and checks what every case shares."""
        launcher = self.start_stand_in("orvane_launcher")
        client = self.start_stand_in("Orvane")
        payload, digest = self.probe_installer()
        self.answer_upgrade(upgrade_answer)
        updater = self.start_updater()

        self.display.press_ok(updater.pid)
        self.assertEqual(updater.wait(timeout=Config.wait), 0 if Config.wine else -9)
        self.assertIsNotNone(launcher.wait(timeout=Config.wait))
        self.assertIsNotNone(client.wait(timeout=Config.wait))

        marker = os.path.join(self.work, "installer_ran.txt")
        wait_until(lambda: os.path.exists(marker) and open(marker).read().endswith("\n"), "the installer to run")
        with open(marker) as f:
            ran = dict(line.split("=", 1) for line in f.read().splitlines())
        self.assertEqual(ran["arguments"], "0")
        self.assertEqual(ran["launcher"], "ended")
        self.assertEqual(ran["client"], "ended")
        self.assertTrue(ran["program"].endswith(version + "_kesto.exe"), ran["program"])
        if not Config.wine:
            self.assertEqual(ran["program"], self.installer_path(version))

        log = self.log()
        self.assertIn("\r\n Downloaded new product\r\nFile MD5:%s\r\ninfo MD5:%s" % (digest, digest), log)
        with open(self.installer_path(version), "rb") as f:
            self.assertEqual(f.read(), payload)

    def test_older_version_with_upper_case_digest_is_installed(self):
        payload, digest = self.probe_installer()
        url = self.serve_installer("1.1.9", payload)
        # The service gives secure addresses; the download is fetched over plain HTTP.
        secure = "https" + url[len("http"):]
        self.installed("1.1.9", answer(secure, digest.upper(), "1.1.9"))
        self.assertEqual(len(self.server.requests_to("/installer/1.1.9")), 1)

    def test_newer_version_with_other_member_case_is_installed(self):
        payload, digest = self.probe_installer()
        url = self.serve_installer("1.3.0", payload)
        self.installed("1.3.0", {"CODE": 200, "Data": {"URL": url, "Md5": digest, "VERSION": "1.3.0"}})

    def test_prompt_closed_any_way_counts_as_closed(self):
        payload, digest = self.probe_installer()
        url = self.serve_installer("1.3.0", payload)
        self.answer_upgrade(answer(url, "0123456789abcdef0123456789abcdef", "1.3.0"))
        for key in ("Escape", "alt+F4"):
            with self.subTest(key=key):
                updater = self.start_updater(stderr=subprocess.PIPE)
                self.display.press_ok(updater.pid, key)
                # The check goes on at once: no second box, nothing on standard error.
                self.wait_until_check_finished()
                self.assertIn("\r\nFile MD5:%s" % digest, self.log())
                updater.kill()
                self.assertNotIn(PROMPT, updater.communicate()[1].decode())

    def test_mismatched_digest_installs_nothing(self):
        launcher = self.start_stand_in("orvane_launcher")
        client = self.start_stand_in("Orvane")
        payload, digest = self.probe_installer()
        url = self.serve_installer("1.3.0", payload)
        self.answer_upgrade(answer(url, "0123456789abcdef0123456789abcdef", "1.3.0"))
        updater = self.start_updater()

        self.display.press_ok(updater.pid)
        self.wait_until_check_finished()
        self.assertIn("\r\nFile MD5:%s\r\ninfo MD5:0123456789abcdef0123456789abcdef" % digest, self.log())
        for process in (updater, launcher, client):
            self.assertIsNone(process.poll())
        self.assertFalse(os.path.exists(os.path.join(self.work, "installer_ran.txt")))
        with open(self.installer_path("1.3.0"), "rb") as f:
            self.assertEqual(f.read(), payload)


if __name__ == "__main__":
    sys.exit(main())
