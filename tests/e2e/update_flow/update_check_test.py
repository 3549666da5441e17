"""The update check end to end: the built updater asks the scripted upgrade
service, downloads, prompts, verifies and installs, or does not."""

import hashlib
import json
import os
import re
import shutil
import struct
import subprocess
import sys

from updater_e2e import (INSTALL_ID, PROMPT, Config, Display, Reply, UpdaterTest, main, wait_until)


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
        self.assertIn("\r\n Downloaded new product\r\n download failed:-1", log)
        self.assertNotIn("MD5", log)
        # The download created the file before it failed.
        self.assertEqual(os.path.getsize(self.installer_path("1.3.0")), 0)
        if not Config.wine:
            # Without a display the prompt would have gone to standard error.
            updater.kill()
            self.assertNotIn(PROMPT, updater.communicate()[1].decode())


class OnDisplay(UpdaterTest):
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

    def installed(self, version, upgrade_answer, payload=None, updater="loopback", key="Return"):
        """Runs the whole installation and checks what every case shares. A
        payload other than the probe is a Windows program, which runs only
        under Wine. `key` closes the prompt."""
        launcher = self.start_stand_in("orvane_launcher")
        client = self.start_stand_in("Orvane")
        runs = payload is None or Config.wine
        if payload is None:
            payload, digest = self.probe_installer()
        else:
            digest = hashlib.md5(payload).hexdigest()
        self.answer_upgrade(upgrade_answer)
        updater = self.start_updater(folder=updater)

        self.display.press_ok(updater.pid, key)
        self.assertEqual(updater.wait(timeout=Config.wait), 0 if Config.wine else -9)
        self.assertIsNotNone(launcher.wait(timeout=Config.wait))
        self.assertIsNotNone(client.wait(timeout=Config.wait))
        log = self.log()
        self.assertIn("\r\n Downloaded new product\r\nFile MD5:%s\r\ninfo MD5:%s" % (digest, digest), log)
        self.assertNotIn("installer refused", log)
        with open(self.installer_path(version), "rb") as f:
            self.assertEqual(f.read(), payload)
        if not runs:
            return

        marker = os.path.join(self.work, "installer_ran.txt")
        wait_until(lambda: os.path.exists(marker) and open(marker).read().endswith("\n"), "the installer to run",
                   timeout=Config.wait)
        with open(marker) as f:
            ran = dict(line.split("=", 1) for line in f.read().splitlines())
        self.assertEqual(ran["arguments"], "0")
        self.assertEqual(ran["launcher"], "ended")
        self.assertEqual(ran["client"], "ended")
        self.assertTrue(ran["program"].endswith(version + "_kesto.exe"), ran["program"])
        if not Config.wine:
            self.assertEqual(ran["program"], self.installer_path(version))

    def not_offered(self, upgrade_answer, logged, updater="loopback", longer=0):
        """Runs an update check that must end without a prompt: the check
        finishes with nobody at the display (a prompt would hold the
        schedule), no dialog was shown, one line says why, and nothing was
        ended or started."""
        launcher = self.start_stand_in("orvane_launcher")
        client = self.start_stand_in("Orvane")
        self.answer_upgrade(upgrade_answer)
        process = self.start_updater(folder=updater)
        self.wait_until_check_finished(longer)
        self.assertEqual(self.display.windows_of(process.pid), [])
        log = self.log()
        self.assertIn(logged, log)
        print("logged: %r" % log[log.index("\r\n Downloaded new product"):])
        for p in (process, launcher, client):
            self.assertIsNone(p.poll())
        self.assertFalse(os.path.exists(os.path.join(self.work, "installer_ran.txt")))
        return log



class InstallTest(OnDisplay):

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
        for key in ("Escape", "alt+F4"):
            with self.subTest(key=key):
                try:
                    os.remove(os.path.join(self.work, "installer_ran.txt"))
                except OSError:
                    pass
                self.installed("1.3.0", answer(url, digest, "1.3.0"), key=key)


# Downloads that are not offered: none prompts, none ends or starts anything,
# and the check ends with one line that says why, for the next hourly check
# to try again. The installer route answers with `reply` (a function of the
# probe's bytes), or a folder stands where the file goes; the service gives
# the probe's digest or another; the "pinned" updater requires a pinned
# publisher's signature, which the probe lacks.
NOT_OFFERED_CASES = [
    # name,                     reply,                                                   digest,  updater,    logged
    ("not_found",               lambda p: Reply(404, b"<html>no such installer</html>"), "right", "loopback", "\r\n download failed:404"),
    ("server_error_with_body",  lambda p: Reply(500, b"<html>internal error</html>" * 40), "right", "loopback", "\r\n download failed:500"),
    ("time_out_mid_body",       lambda p: Reply(200, p[:len(p) // 2], content_length=len(p), then="stall"),
                                                                                         "right", "loopback", "\r\n download failed:28"),
    ("file_cannot_be_written",  "folder in the way",                                     "right", "loopback", "\r\n download not written:"),
    ("digest_mismatch",         lambda p: Reply(200, p),                                 "wrong", "loopback", "\r\n installer refused:MD5 mismatch"),
    ("publisher_refused",       lambda p: Reply(200, p),                                 "right", "pinned",   "\r\n installer refused:not signed"),
]


class NotOfferedTest(OnDisplay):

    def run_case(self, reply, digest, updater, logged):
        payload, right = self.probe_installer()
        if reply == "folder in the way":
            os.makedirs(os.path.join(self.installer_path("1.3.0"), "taken"))
            reply = lambda p: Reply(200, p)  # noqa: E731
        self.server.route("GET", "/installer/1.3.0", reply(payload))
        url = self.server.url("/installer/1.3.0")
        # A stalled body ends at the transfer's low-speed limit, a minute.
        longer = 70 if "28" in logged else 0
        log = self.not_offered(answer(url, right if digest == "right" else "0123456789abcdef" * 2, "1.3.0"), logged,
                               updater=updater, longer=longer)
        self.assertEqual(len(self.server.requests_to("/installer/1.3.0")), 1)
        if logged.startswith("\r\n download"):
            self.assertNotIn("MD5", log)


for _case in NOT_OFFERED_CASES:
    setattr(NotOfferedTest, "test_" + _case[0], lambda self, c=_case: self.run_case(*c[1:]))


# The signed-installer table. The "pinned" updater is built with the two keys
# of <build>/test_publishers pinned (old and new, as during a roll-over); the
# "loopback" one pins none. Signer: a pinned key, "other" (a key made by the
# test), or None (unsigned); "changed" alters one byte after signing. Refused
# cases name the reason the updater logs.
SIGNATURE_CASES = [
    # name,                     updater,    signer,  changed, refusal
    ("pinned_publisher",        "pinned",   "old",   False,   None),
    ("rolled_over_publisher",   "pinned",   "new",   False,   None),
    ("other_publisher",         "pinned",   "other", False,   "other publisher"),
    ("changed_after_signing",   "pinned",   "old",   True,    "bad digest"),
    ("unsigned",                "pinned",   None,    False,   "not signed"),
    ("no_pin_checks_md5_only",  "loopback", "other", False,   None),
]


def tiny_pe():
    """A PE32 image of one section whose code only returns: enough to sign and
    verify. The native tests use it; they cannot run the Windows probe."""
    header = bytearray(0x200)
    header[0:2] = b"MZ"
    struct.pack_into("<I", header, 0x3C, 0x40)
    header[0x40:0x44] = b"PE\0\0"
    # i386, one section, a PE32 optional header, an executable image.
    struct.pack_into("<HHIIIHH", header, 0x44, 0x14C, 1, 0, 0, 0, 0xE0, 0x0102)
    opt = 0x58
    struct.pack_into("<HBBIIIIIII", header, opt, 0x10B, 0, 0, 0x200, 0, 0, 0x1000, 0x1000, 0x2000, 0x400000)
    struct.pack_into("<IIHHHHHHIIIIHHIIIIII", header, opt + 32, 0x1000, 0x200, 4, 0, 0, 0, 4, 0, 0,
                     0x2000, 0x200, 0, 2, 0, 0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
    struct.pack_into("<8sIIIIIIHHI", header, opt + 0xE0, b".text", 0x1000, 0x1000, 0x200, 0x200, 0, 0, 0, 0,
                     0x60000020)
    code = bytearray(0x200)
    code[0] = 0xC3
    return bytes(header + code)


class SignedInstallerTest(OnDisplay):

    def signed(self, payload, signer):
        """The payload signed now with a throwaway certificate for the key."""
        folder = os.path.join(self.root, "signing")
        os.makedirs(folder, exist_ok=True)
        key = os.path.join(Config.build_dir, "test_publishers", signer + ".key")
        if signer == "other":
            key = os.path.join(folder, "other.key")
            subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048",
                            "-out", key], check=True, stderr=subprocess.DEVNULL)
        cert = os.path.join(folder, signer + ".pem")
        subprocess.run(["openssl", "req", "-x509", "-new", "-key", key, "-out", cert, "-days", "2",
                        "-subj", "/CN=Orvane test publisher " + signer,
                        "-addext", "extendedKeyUsage=codeSigning"], check=True, stderr=subprocess.DEVNULL)
        unsigned, signed = os.path.join(folder, "unsigned.exe"), os.path.join(folder, "signed.exe")
        with open(unsigned, "wb") as f:
            f.write(payload)
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-in", unsigned, "-out", signed],
                       check=True, stdout=subprocess.DEVNULL)
        with open(signed, "rb") as f:
            return f.read()

    def run_case(self, updater, signer, changed, refusal):
        payload = self.probe_installer()[0] if Config.wine else tiny_pe()
        # Inside the image's sections, clear of the signature appended to it.
        middle = len(payload) // 2
        if signer:
            payload = self.signed(payload, signer)
        if changed:
            payload = payload[:middle] + bytes([payload[middle] ^ 0xFF]) + payload[middle + 1:]
        digest = hashlib.md5(payload).hexdigest()
        url = self.serve_installer("1.3.0", payload)
        if refusal is None:
            self.installed("1.3.0", answer(url, digest, "1.3.0"), payload=payload, updater=updater)
            return

        line = "\r\nFile MD5:%s\r\ninfo MD5:%s\r\n installer refused:%s" % (digest, digest, refusal)
        self.not_offered(answer(url, digest, "1.3.0"), line, updater=updater)


for _case in SIGNATURE_CASES:
    setattr(SignedInstallerTest, "test_" + _case[0], lambda self, c=_case: self.run_case(*c[1:]))


if __name__ == "__main__":
    sys.exit(main())
