"""The launch report end to end: the built updater reads ShopInfo.ini in its
working folder and reports once to the scripted statistics service. The
update request that follows the report marks the point by which it would
have been sent."""

import re
import sys
import time

from updater_e2e import INSTALL_ID, REPORT_PATH, Config, UpdaterTest, main

NO_UPDATE = {"code": 200, "data": {"url": "http://127.0.0.1:1/x", "md5": "0" * 32, "version": "1.2.0"}}


class LaunchReportTest(UpdaterTest):

    def run_updater(self, shop_value):
        """Starts an updater and returns the reports it sent before asking for updates."""
        self.write_shop_info(shop_value)
        self.answer_upgrade(NO_UPDATE)
        self.started = int(time.time())
        updater = self.start_updater()
        self.wait_for_upgrade_request()
        return updater, self.server.requests_to(REPORT_PATH)

    def merchant_sent(self, shop_value):
        _, reports = self.run_updater(shop_value)
        self.assertEqual(len(reports), 1)
        self.assertEqual(reports[0].method, "GET")
        keys = [pair.split("=", 1)[0] for pair in reports[0].query.split("&")]
        self.assertEqual(keys, ["version", "deviceId", "merchant_id", "t"])
        return reports[0].params()["merchant_id"][0], reports[0].query

    def test_report_is_sent_once_with_its_keys_in_order(self):
        updater, reports = self.run_updater("https://shop-42")
        self.assertEqual(len(reports), 1)
        sent = re.fullmatch(r"version=1\.2\.0&deviceId=%s&merchant_id=shop-42&t=(\d+)" % INSTALL_ID, reports[0].query)
        self.assertIsNotNone(sent, reports[0].query)
        self.assertTrue(self.started - 1 <= int(sent.group(1)) <= time.time() + 1)
        # The report goes out before the schedule's first update check.
        self.assertLess(self.server.requests.index(reports[0]), self.server.requests.index(self.wait_for_upgrade_request()))

        # A second updater stops at the single-instance guard, before reporting.
        second = self.start_updater()
        self.assertEqual(second.wait(timeout=Config.wait), 0)
        self.assertEqual(len(self.server.requests_to(REPORT_PATH)), 1)
        self.assertEqual(len(self.server.requests_to("/upgrade")), 1)
        self.assertIsNone(updater.poll())

    def test_value_of_eight_characters_sends_nothing(self):
        _, reports = self.run_updater("https://")
        self.assertEqual(reports, [])

    def test_nine_characters_send_a_one_character_merchant(self):
        self.assertEqual(self.merchant_sent("https://7")[0], "7")

    def test_value_is_read_up_to_63_characters(self):
        value = "https://" + "".join(chr(ord("a") + i % 26) for i in range(62))
        self.assertEqual(len(value), 70)
        merchant, _ = self.merchant_sent(value)
        self.assertEqual(merchant, value[8:63])
        self.assertEqual(len(merchant), 55)

    def test_values_are_percent_encoded(self):
        merchant, query = self.merchant_sent("https://Ana & Co #1")
        self.assertEqual(merchant, "Ana & Co #1")
        self.assertIn("&merchant_id=Ana%20%26%20Co%20%231&t=", query)


if __name__ == "__main__":
    sys.exit(main())
