#include "http/pages.h"

#include "protocol/lookup_page.h"
#include "protocol/moment.h"
#include "protocol/search_page.h"
#include "text/gbk.h"

#include <QDateTime>
#include <QString>

#include <algorithm>

namespace yuming::service {

namespace {

// The maker shown on the banner and the home page.
constexpr QStringView kMaker = u"墨柚域名工坊";

// The service's own texts, converted once: pages are built from ASCII values and these pieces.
struct Texts {
    std::string searchHead = toGbkString(u"<!DOCTYPE html>\n<html><head><meta http-equiv=\"Content-Type\" "
                                         u"content=\"text/html; charset=gbk\"><title>过期域名查询</title>");
    std::string searchSummary = toGbkString(u"<p class=\"summary\">即将删除的域名共 ");
    std::string searchSummaryEnd = toGbkString(u" 个");
    std::string searchPageOf = toGbkString(u"</strong>，当前第 ");
    std::string searchPageOfEnd =
        toGbkString(u" 页</p>\n<table class=\"result\"><thead><tr><th>域名</th><th>长度</th>"
                    u"<th>后缀</th><th>删除时间</th>");
    std::string lookupTitleEnd = toGbkString(u" 域名到期查询");
    std::string deletionLabel = toGbkString(u"<p>域名删除时间：");
    std::string lookupNote =
        toGbkString(u"<p class=\"note\">删除时间为预算，域名可能已被续费，请以注册局为准。</p>");
};

const Texts& texts() {
    static const Texts instance;
    return instance;
}

constexpr std::string_view kStyle =
    "<style>body{margin:0;font:14px/1.6 \"Microsoft YaHei\",\"Noto Sans CJK SC\",sans-serif;"
    "background:rgb(241,242,244);color:#333}"
    ".bar{background:rgb(47,91,138);color:#fff;padding:8px 16px}.bar a{color:#fff;text-decoration:none}"
    "main{margin:16px;padding:12px 16px;background:#fff;border:1px solid rgb(212,213,217)}"
    "table{border-collapse:collapse;width:100%}th,td{border-bottom:1px solid rgb(212,213,217);"
    "padding:4px 8px;text-align:left}th{background:rgb(241,242,244);color:rgb(47,91,138)}"
    ".note{color:#888;font-size:12px}</style>";

// For text echoed back from a request: no markup gets through, and bytes that are not GBK
// become '?' rather than reaching the page.
std::string escapedEcho(std::string_view raw) {
    const QString text = fromGbk(QByteArrayView(raw.data(), static_cast<qsizetype>(raw.size())));
    QString escaped = text.toHtmlEscaped();
    escaped.replace(QChar(0xFFFD), QLatin1Char('?'));
    return toGbkString(escaped);
}

std::string ended(std::string page) {
    writePageEnd(page);
    return page;
}

std::string bar() {
    return toGbkString(
        QStringLiteral("<div class=\"bar\"><a href=\"/\">%1</a> · 过期域名查询</div>").arg(kMaker));
}

void appendRow(std::string& out, const Catalog::Row& row) {
    const std::string_view suffix = suffixName(row.suffix);
    std::string domain;
    domain.reserve(row.name.size() + 1 + suffix.size());
    domain.append(row.name).append(1, '.').append(suffix);
    writeRow(out, domain, row.name.size(), suffix, row.deletion);
}

// How the lookup page names what a registry's estimate rests on (UTF-8).
std::string basisText(DeletionBasis basis) {
    switch (basis) {
    case DeletionBasis::PendingDelete:
        return "待删除，注册局数据";
    case DeletionBasis::Redemption:
        return "赎回期，注册局数据";
    case DeletionBasis::AutoRenewGrace:
        return "自动续费宽限期，估算";
    case DeletionBasis::Expired:
        return "已过期，估算";
    case DeletionBasis::Active:
        return "未到期，估算";
    }
    return {};
}

} // namespace

std::string searchPage(const Catalog& catalog, const Catalog::Page& page, std::int64_t pageNo) {
    const Texts& t = texts();
    const auto pages = (page.total + kPageSize - 1) / kPageSize;
    std::string out;
    out.reserve(2048 + page.rows.size() * 300);
    out += t.searchHead;
    out += kStyle;
    out += "</head><body>\n" + bar() + "\n<main>";
    out += t.searchSummary + std::to_string(page.total) + t.searchSummaryEnd;
    writePageCount(out, pages);
    // Page numbers are shown counting from 1; the decoder never passes more than kMaxPage.
    out += t.searchPageOf + std::to_string(std::clamp<std::int64_t>(pageNo, 0, kMaxPage) + 1) +
           t.searchPageOfEnd;
    writeRowsStart(out);
    for (std::uint32_t id : page.rows)
        appendRow(out, catalog.row(id));
    writeRowsEnd(out);
    out += "</main>\n</body>";
    writePageEnd(out);
    return out;
}

std::string lookupPage(std::string_view domain, const std::optional<Registration>& registration,
                       std::string_view note) {
    const Texts& t = texts();
    const std::string echo = escapedEcho(domain);
    const std::string shownNote =
        note.empty() ? std::string{}
                     : "<p class=\"note\">" +
                           toGbkString(QString::fromUtf8(note.data(), qsizetype(note.size()))) + "</p>";
    std::string out = t.searchHead.substr(0, t.searchHead.find("<title>"));
    out += "<title>" + echo + t.lookupTitleEnd;
    if (!registration) {
        writeNotRegistered(out, echo);
        out += std::string(kStyle) + "</head><body>\n" + bar() + shownNote + "\n</body>";
        writePageEnd(out);
        return out;
    }
    // The registries' dates come with their basis in words; the database's are plain ASCII.
    const auto text = [](const std::string& utf8) {
        return toGbkString(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
    };
    out +=
        "</title>" + std::string(kStyle) + "</head><body>\n" + bar() + "\n<main><h1>" + echo + "</h1>\n<p>";
    writeExpiry(out, text(registration->expiry));
    out += "</p>\n" + t.deletionLabel;
    writeDeletion(out, text(registration->deletion));
    out += "</p>\n" + t.lookupNote + shownNote + "</main>\n</body>";
    writePageEnd(out);
    return out;
}

std::string registryLookupPage(std::string_view domain, const LookupOutcome& outcome) {
    const std::string age = outcome.staleFor ? ageText(*outcome.staleFor) : std::string{};
    if (outcome.kind != LookupOutcome::Kind::Registered) {
        const std::string note = age.empty() ? std::string{} : "注册局暂时无法访问，此为" + age + "的结果。";
        return lookupPage(domain, std::nullopt, note);
    }
    const std::string basis = basisText(outcome.basis) + (age.empty() ? std::string{} : "，" + age);
    const Registration shown{outcome.expiry.isValid() ? Moment::of(outcome.expiry).text()
                                                      : std::string("（注册局未提供）"),
                             Moment::of(outcome.deletion).text() + "（" + basis + "）"};
    return lookupPage(domain, shown);
}

std::string localLookupPage(std::string_view domain, Registration registration, bool unreached) {
    registration.deletion +=
        unreached ? "（本地数据，注册局暂时无法访问）" : "（本地数据，注册局未给出可用答复）";
    return lookupPage(domain, registration);
}

namespace {

// What the banner and the home page say of the names: the list served, or, while the names are
// sample data, that they are and how a real list comes in. The list's own words are those the
// pages have always had.
struct ListWords {
    QString bannerStyle;
    QString bannerBadge;
    QString bannerTag;
    QString bannerCount;
    QString homeNotice;
    QString homeUnit;
};

const ListWords& listWords(bool sample) {
    static const ListWords served{
        {},
        {},
        QStringLiteral("每日更新 .com .net .org .cn 即将删除的域名 · 删除时间预算 · 到期一查便知"),
        QStringLiteral("个域名将在30天内删除"),
        {},
        QStringLiteral("个域名")};
    static const ListWords samples{
        QStringLiteral(
            ".sample{display:inline-block;margin-left:14px;padding:1px 8px;border-radius:4px;"
            "background:rgb(191,87,0);color:#fff;font-size:14px;font-weight:bold;letter-spacing:1px;"
            "vertical-align:5px}.tag{line-height:20px}.tag b{color:rgb(191,87,0)}"
            ".count i{display:block;font-style:normal;color:rgb(191,87,0)}"),
        QStringLiteral("<span class=\"sample\">示例数据</span>"),
        QStringLiteral(
            "当前列表为程序生成的示例域名，并非真实的即将删除域名<br>换成真实列表：<b>yuming-service "
            "import 文件</b>"),
        QStringLiteral("个示例域名<i>示例计数，非真实数据</i>"),
        QStringLiteral(
            "<p style=\"border-left:4px solid rgb(191,87,0);padding:4px 10px;background:rgb(253,243,"
            "232)\"><strong>示例数据：</strong>当前列表中的域名由程序生成，并非真实的即将删除域名。"
            "要换成真实列表，请导入一份删除列表：<code>yuming-service import 文件</code></p>"),
        QStringLiteral("个示例域名")};
    return sample ? samples : served;
}

} // namespace

// "列表更新于 2026-12-09 06:31" over "来自 2 个来源", in the service's zone: two short lines, so the
// count's column stays as narrow as its other lines and the tagline beside it on one line.
QString refreshText(const ListRefresh& refresh, const QTimeZone& zone) {
    const QString at =
        QDateTime::fromSecsSinceEpoch(refresh.at, zone.isValid() ? zone : QTimeZone::systemTimeZone())
            .toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    return QStringLiteral("<span class=\"fresh\">列表更新于 %1<br>来自 %2 个来源</span>")
        .arg(at)
        .arg(refresh.sources);
}

std::string bannerPage(std::size_t listedCount, bool sample, const ListRefresh* refresh,
                       const QTimeZone& zone) {
    const ListWords& words = listWords(sample);
    // A list never refreshed keeps the page it always had.
    const QString style =
        refresh
            ? words.bannerStyle +
                  QStringLiteral(
                      ".fresh{display:block;font-size:11px;line-height:14px;color:#8a929e;margin-top:3px}")
            : words.bannerStyle;
    const QString count = refresh ? words.bannerCount + refreshText(*refresh, zone) : words.bannerCount;
    const QString page = QStringLiteral(
        "<!DOCTYPE html>\n<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">"
        "<title>%1</title><style>"
        "html,body{margin:0;padding:0;width:843px;height:113px;overflow:hidden;background:rgb(241,242,244)}"
        ".banner{box-sizing:border-box;width:843px;height:113px;display:flex;align-items:center;padding:0 "
        "28px;"
        "border:1px solid rgb(212,213,217);background:linear-gradient(90deg,rgb(241,242,244) 0%,#fff 55%,"
        "rgb(241,242,244) 100%);font-family:\"Microsoft YaHei\",\"Noto Sans CJK SC\",sans-serif}"
        ".logo{width:66px;height:66px;border-radius:14px;background:rgb(47,91,138);color:#fff;font-size:36px;"
        "display:flex;align-items:center;justify-content:center;margin-right:22px;"
        "box-shadow:0 2px 6px rgba(47,91,138,.35)}"
        ".title{color:rgb(47,91,138);font-size:28px;font-weight:bold;letter-spacing:3px}"
        ".tag{color:#5b6573;font-size:14px;margin-top:4px}"
        ".count{margin-left:auto;text-align:right;color:#5b6573;font-size:13px;border-left:1px solid "
        "rgb(212,213,217);padding-left:24px}.count b{display:block;color:rgb(47,91,138);font-size:30px}"
        "%3</style></head><body><div class=\"banner\"><div class=\"logo\">柚</div><div>"
        "<div class=\"title\">%1%4</div><div class=\"tag\">%5</div></div>"
        "<div class=\"count\"><b>%2</b>%6</div></div></body>");
    return ended(toGbkString(page.arg(kMaker.toString(), QString::number(listedCount), style,
                                      words.bannerBadge, words.bannerTag, count)));
}

std::string homePage(std::size_t listedCount, bool sample) {
    const ListWords& words = listWords(sample);
    const QString page = QStringLiteral(
        "<!DOCTYPE html>\n<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">"
        "<title>%1</title>%2</head><body>\n<div class=\"bar\">%1</div>\n<main><h1>%1</h1>%4"
        "<p>我们每天整理即将删除的域名，帮您在它们重新开放注册时第一时间拿下。当前列表：%3 %5。</p>"
        "<p><a href=\"/s/?key=&amp;kaiwei=radom&amp;min=0&amp;max=0&amp;op=zahe&amp;o=o_5&amp;com=com&amp;"
        "net=net&amp;tsym=0&amp;d=0&amp;do=do&amp;page=0\">查看即将删除的域名</a></p>"
        "<form action=\"/whois/\" method=\"get\"><input name=\"domain\" placeholder=\"例如 example.com\">"
        "<input type=\"hidden\" name=\"Whois[]\" value=\"1\"><input type=\"hidden\" name=\"Whois[]\" "
        "value=\"2\">"
        "<input type=\"hidden\" name=\"Whois[]\" value=\"3\"><button>查询删除时间</button></form>"
        "<p class=\"note\">删除时间均为预算，仅供参考。</p></main>\n</body>");
    return ended(toGbkString(page.arg(kMaker.toString(), QString::fromLatin1(kStyle.data(), kStyle.size()),
                                      QString::number(listedCount), words.homeNotice, words.homeUnit)));
}

std::string errorPage(int status, std::string_view message) {
    const QString page = QStringLiteral(
        "<!DOCTYPE html>\n<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">"
        "<title>%1 出错了</title></head><body><h1>%1</h1><p>%2</p><p><a href=\"/\">返回首页</a></p>"
        "</body>");
    const QString text = QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size()));
    return ended(toGbkString(page.arg(status).arg(text.toHtmlEscaped())));
}

std::string ageText(std::int64_t seconds) {
    constexpr std::int64_t kMinute = 60, kHour = 3600, kDay = 86400;
    if (seconds < kHour) return std::to_string(std::max<std::int64_t>(seconds / kMinute, 1)) + " 分钟前查得";
    if (seconds < 48 * kHour) return std::to_string(seconds / kHour) + " 小时前查得";
    return std::to_string(seconds / kDay) + " 天前查得";
}

} // namespace yuming::service
