#!/usr/bin/python3
"""What a user would write instead of yuming: BeautifulSoup or lxml over the same pages.

  peer.py parse bs4|lxml FILE [REPEAT]   parse a saved page; rows to stdout, median_us to stderr
  peer.py search bs4|lxml PAGENO        a search page on stdin (from curl); prints as yuming-cli does
  peer.py lookup bs4|lxml               a lookup page on stdin; prints the lookup result as yuming-cli does
"""
import re
import sys
import time

PAGES = re.compile(r"\u5171\s*(\d+)\s*\u9875")


def rows_lxml(data):
    import lxml.html
    doc = lxml.html.fromstring(data, parser=lxml.html.HTMLParser(encoding="gbk"))
    count = PAGES.search(doc.xpath("string(//strong)")).group(1)
    rows = []
    for tr in doc.xpath("//table//tbody/tr"):
        tds = tr.findall("td")
        rows.append((tds[0].findtext("a"), tds[1].text, tds[2].text, tds[3].text))
    return count, rows


def rows_bs4(data):
    from bs4 import BeautifulSoup
    soup = BeautifulSoup(data, "lxml", from_encoding="gbk")
    count = PAGES.search(soup.find("strong").get_text()).group(1)
    rows = []
    for tr in soup.find("tbody").find_all("tr"):
        tds = tr.find_all("td")
        rows.append((tds[0].a.get_text(), tds[1].get_text(), tds[2].get_text(), tds[3].get_text()))
    return count, rows


def lookup_text(data, kind):
    if kind == "lxml":
        import lxml.html
        doc = lxml.html.fromstring(data, parser=lxml.html.HTMLParser(encoding="gbk"))
        title = doc.findtext(".//title") or ""
        spans = [s.text_content() for s in doc.xpath("//span[@style]")]
    else:
        from bs4 import BeautifulSoup
        soup = BeautifulSoup(data, "lxml", from_encoding="gbk")
        title = soup.title.get_text() if soup.title else ""
        spans = [s.get_text() for s in soup.find_all("span", style=True)]
    head = "\u67e5\u8be2\u5b8c\u6210...\r\n\r\n"  # 查询完成...
    if "\u672a\u6ce8\u518c" in title or data.find("\u672a\u6ce8\u518c".encode("gbk")) >= 0:  # 未注册
        return head + "\u57df\u540d\u672a\u6ce8\u518c"  # 域名未注册
    expiry = spans[0]
    deletion = spans[1][2:] if spans[1].startswith("\u9884\u7b97") else spans[1]  # 预算
    return head + "\u57df\u540d\u5230\u671f\u65f6\u95f4\uff1a" + expiry + "    \u57df\u540d\u5220\u9664\u65f6\u95f4\uff1a\u9884\u7b97 " + deletion


def main():
    mode, kind = sys.argv[1], sys.argv[2]
    extract = rows_lxml if kind == "lxml" else rows_bs4
    out = sys.stdout
    if mode == "parse":
        data = open(sys.argv[3], "rb").read()
        repeat = int(sys.argv[4]) if len(sys.argv) > 4 else 1
        times = []
        for _ in range(repeat):
            start = time.perf_counter()
            count, rows = extract(data)
            times.append((time.perf_counter() - start) * 1e6)
        times.sort()
        out.write("pages\t%s\n" % count)
        for r in rows:
            out.write("\t".join(r) + "\n")
        sys.stderr.write("median_us %f\n" % times[len(times) // 2])
    elif mode == "search":
        count, rows = extract(sys.stdin.buffer.read())
        out.write("pages\t%s\tcurrent\t%d\n" % (count, int(sys.argv[3]) + 1))
        for r in rows:
            out.write("\t".join(r) + "\n")
    elif mode == "lookup":
        out.write(lookup_text(sys.stdin.buffer.read(), kind) + "\n")


if __name__ == "__main__":
    main()
