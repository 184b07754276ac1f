#!/usr/bin/python3
# The live page in a real browser (headless Chromium through Selenium) on a runner with a virtual
# meter line: every station's row with the digits the virtual meter shows, a value from the FIFO
# on the row within 4 s, the station turning lost when its meter goes away, and no request to any
# other origin.
# Usage: web_page_test.py BIN_DIR
import json
import sys
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

from web_lib import Road, wait_until


def browser():
    options = webdriver.ChromeOptions()
    for arg in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                "--no-first-run", "--disable-background-networking", "--disable-sync",
                "--disable-component-update", "--window-size=1200,900"):
        options.add_argument(arg)
    options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def page_rows(driver):
    """{station number: its row's class, value and digits}, read in one step of the page."""
    rows = driver.execute_script("""
        return Array.from(document.querySelectorAll('tbody tr')).map(tr => ({
          number: tr.querySelector('td.name .small').textContent.split(' ').pop(),
          class: tr.className,
          value: tr.children[3].textContent,
          shows: tr.querySelector('svg') &&
                 tr.querySelector('svg').getAttribute('data-shows')}));""")
    return {int(r["number"]): r for r in rows}


def main():
    road = Road(sys.argv[1])
    driver = None
    try:
        road.road_values()
        driver = browser()
        driver.get(road.origin + "/")
        if not wait_until(lambda: len(page_rows(driver)) == 7, 5):
            road.fail("the page did not show the 7 stations' rows within 5 s")

        # The page's digits are the meter's: wait for the line to carry the values, then compare.
        def same_digits():
            meter, page = road.shows(), page_rows(driver)
            return all(meter.get(n) == shows == page[n]["shows"]
                       for n, shows in Road.ROAD_SHOWS.items())
        if not wait_until(same_digits, 15, 0.25):
            road.fail("page %s, meter %s, expected %s" % (
                {n: r["shows"] for n, r in page_rows(driver).items()}, road.shows(),
                Road.ROAD_SHOWS))

        # A value written into the FIFO reaches the row within 4 s.
        road.values("T1 7.5\n")
        start = time.monotonic()
        if not wait_until(lambda: page_rows(driver)[2]["value"] == "7.5", 4):
            road.fail("station 2 did not show the value 7.5 within 4 s: %s" % page_rows(driver)[2])
        print("value on the page after %.2f s" % (time.monotonic() - start))
        if not wait_until(lambda: page_rows(driver)[2]["shows"] == "7.50", 8):
            road.fail("station 2's digits did not become 7.50: %s" % page_rows(driver)[2])

        # Every request the page made went to the runner itself.
        origin = road.origin
        resources = driver.execute_script(
            "return performance.getEntriesByType('resource').map(e => e.name)")
        requested = []
        for entry in driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message["method"] == "Network.requestWillBeSent":
                requested.append(message["params"]["request"]["url"])
        foreign = [u for u in resources + requested
                   if not u.startswith(origin + "/") and not u.startswith("data:")]
        if foreign or not requested:
            road.fail("requests to other origins: %s (all: %s)" % (foreign, requested))

        # The meter goes away: the station whose value keeps changing turns lost, and stands out.
        road.stop_meter()
        def lost():
            road.values("T1 %d\n" % (int(time.monotonic() * 10) % 1000))
            return "lost" in page_rows(driver)[2]["class"]
        if not wait_until(lost, 45, 0.5):
            road.fail("station 2 did not turn lost after its meter went away: %s"
                      % page_rows(driver)[2])
        banner = driver.find_element(By.ID, "attention")
        if not banner.is_displayed() or "lost" not in banner.text:
            road.fail("no notice of the lost station above the lines: '%s'" % banner.text)
        print("web_page: 7 rows with the meter's digits, a value within 4 s, a lost station, "
              "no other origin")
    finally:
        if driver:
            driver.quit()
        road.close()


if __name__ == "__main__":
    main()
