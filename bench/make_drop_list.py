#!/usr/bin/env python3
"""Writes a drop list of made-up names for `yuming-service import`, as registrars publish them.

  bench/make_drop_list.py --count 5000000 --format plain --seed 1 -o drops.txt
  bench/make_drop_list.py --count 100000 --format csv-gbk --gzip -o drops.csv.gz

Formats: plain (name, tab, deletion time), dates (name and a deletion date after a blank), csv
(English header, quoted fields, expiry and status columns), csv-gbk (Chinese header, GBK). Names
are unique, shaped like the service's own generated ones, with deletion times over the coming
--days days; the same seed gives the same file.
"""
import argparse
import datetime
import gzip
import random
import sys

WORDS = ("cloud shop mall home web net data info tech soft game play star sun moon sky blue red green gold "
         "silver king best top fast easy smart happy lucky love life world city china asia link hub zone box "
         "lab pro max mini new big one first free open live news media video music photo book read learn "
         "school job work team group trade market store buy sell deal pay bank money fund car auto bike "
         "travel trip hotel food tea coffee wine fish farm fresh health care doctor baby kids mom pet dog cat "
         "art design style fashion beauty sport fit run go way road map space time day night light fire "
         "water wind rain snow tree flower garden house land river sea ocean lake hill rock stone").split()
SYLLABLES = ("ai an ba bai bao bei ben bo cai chang chao chen cheng chi chu da dai dian ding dong du fa fang "
             "fei feng fu gao ge gong guo hai han hao he hong hua huang hui ji jia jian jin jing jiu kai kang "
             "ke kuai lan le li lian liang lin ling long lu ma mei meng ming mu na nan ning pin ping qi qian "
             "qiang qing quan ren rong ru shan shang sheng shi shu shun si song tai tang tian tong wan wang "
             "wei wen wu xi xia xian xiang xiao xin xing xu ya yang yi yin ying yong you yu yuan yue yun zhan "
             "zhang zhen zheng zhi zhong zhou zhu zi").split()
LETTERS = "abcdefghijklmnopqrstuvwxyz"
DIGITS = "0123456789"
SUFFIXES = ("com",) * 50 + ("net",) * 15 + ("org",) * 10 + ("cn",) * 25


def label(rnd):
    pick = rnd.randrange(100)
    word, syl = (lambda: rnd.choice(WORDS)), (lambda: rnd.choice(SYLLABLES))
    run = lambda chars, low, high: "".join(rnd.choices(chars, k=rnd.randint(low, high)))
    if pick < 20:
        return word() + word() + (run(DIGITS, 1, 3) if pick < 10 else "")
    if pick < 45:
        return syl() + syl() + (syl() if pick < 35 else "")
    if pick < 60:
        return run(DIGITS, 3, 8)
    if pick < 75:
        return run(LETTERS, 3, 6)
    if pick < 85:
        return word() + run(DIGITS, 1, 4)
    if pick < 92:
        return word() + "-" + word()
    return syl() + word() + run(LETTERS + DIGITS, 0, 3)


def rows(count, seed, days):
    rnd = random.Random(seed)
    start = datetime.datetime.combine(datetime.date.today(), datetime.time())
    seen = set()
    while len(seen) < count:
        name = label(rnd) + "." + rnd.choice(SUFFIXES)
        if name in seen:
            continue
        seen.add(name)
        day = start + datetime.timedelta(days=rnd.randrange(days))
        at = day.replace(hour=4, minute=30) if name.endswith(".cn") else day.replace(hour=2, minute=30)
        at += datetime.timedelta(seconds=rnd.randrange(3600))
        expiry = at - datetime.timedelta(days=16 if name.endswith(".cn") else 75)
        yield name, at, expiry


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--count", type=int, default=1000000)
    parser.add_argument("--format", choices=("plain", "dates", "csv", "csv-gbk"), default="plain")
    parser.add_argument("--gzip", action="store_true")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--days", type=int, default=30)
    parser.add_argument("-o", "--output", default="-")
    args = parser.parse_args()

    gbk = args.format == "csv-gbk"
    binary = sys.stdout.buffer if args.output == "-" else open(args.output, "wb")
    out = gzip.open(binary, "wb", compresslevel=6) if args.gzip else binary
    stamp = "%Y-%m-%d %H:%M:%S"
    lines = []
    if args.format == "csv":
        lines.append('domain,"deletion date",expiry,status\n')
    elif gbk:
        lines.append("域名,删除时间,到期时间,状态\n")
    for name, at, expiry in rows(args.count, args.seed, args.days):
        if args.format == "plain":
            lines.append(f"{name}\t{at.strftime(stamp)}\n")
        elif args.format == "dates":
            lines.append(f"{name} {at.date().isoformat()}\n")
        elif args.format == "csv":
            lines.append(f'"{name}","{at.strftime(stamp)}",{expiry.strftime(stamp)},pendingDelete\n')
        else:
            lines.append(f"{name},{at.strftime(stamp)},{expiry.strftime(stamp)},待删除\n")
        if len(lines) >= 65536:
            out.write("".join(lines).encode("gbk" if gbk else "utf-8"))
            lines.clear()
    out.write("".join(lines).encode("gbk" if gbk else "utf-8"))
    out.close()
    if binary is not out:
        binary.close()


if __name__ == "__main__":
    main()
