#include "text/find.h"
#include "text/gbk.h"
#include "text/percent.h"
#include "text/piece.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace yuming;

namespace {

// "中文域名 abc" with the euro sign, as GBK bytes.
const QByteArray kMixed = QByteArray("\xD6\xD0\xCE\xC4\xD3\xF2\xC3\xFB abc \x80 </html>");
const QString kMixedText = QString::fromUtf8("中文域名 abc € </html>");

TEST(Gbk, DecodesAndEncodesBothWays) {
    EXPECT_EQ(fromGbk(kMixed), kMixedText);
    EXPECT_EQ(toGbk(kMixedText), kMixed);
    EXPECT_EQ(toGbk(QString::fromUtf8("预订")), QByteArray("\xD4\xA4\xB6\xA9"));
}

TEST(Gbk, SplitAtEveryOffsetDecodesLikeTheWhole) {
    for (qsizetype cut = 0; cut <= kMixed.size(); ++cut) {
        GbkDecoder decoder;
        QString text;
        decoder.decode(QByteArrayView(kMixed).first(cut), text);
        decoder.decode(QByteArrayView(kMixed).sliced(cut), text);
        decoder.flush(text);
        EXPECT_EQ(text, kMixedText) << "cut at " << cut;
    }
}

TEST(Gbk, InvalidBytesBecomeReplacementAndDecodingGoesOn) {
    struct Case {
        QByteArray bytes;
        QString text;
    };
    const QString r(QChar(0xFFFD));
    const Case cases[] = {
        {QByteArray("a\xFF" "b"), "a" + r + "b"},              // 0xFF is never a character
        {QByteArray("\xD6<b>"), r + "<b>"},                     // a stray lead keeps the markup after it
        {QByteArray("\xA1\x7F" "x"), r + "\x7F" "x"},           // 0x7F is no trail byte
        {QByteArray("x\xD6"), "x" + r},                         // a lead at the very end
        {QByteArray("\xAA\xA1\xD6\xD0"), r + QString::fromUtf8("中")}, // an unassigned pair costs both bytes
    };
    for (const Case& c : cases) EXPECT_EQ(fromGbk(c.bytes), c.text) << c.bytes.toHex().constData();
}

TEST(Gbk, UnmappableCharactersBecomeTheGivenByte) {
    EXPECT_EQ(toGbk(QString::fromUtf8("a😀b")), QByteArray("a?b"));
    EXPECT_TRUE(gbkBytesOf(u'\x00e9').isEmpty() || gbkBytesOf(u'\x00e9').size() == 2);
    EXPECT_EQ(gbkBytesOf(u'中'), QByteArray("\xD6\xD0"));
}

TEST(Piece, CutsWithoutOverlapAndFailsOnMissingPieces) {
    struct Case {
        const char16_t* text;
        const char16_t* marker;
        qsizetype k;
        std::optional<QString> want;
    };
    const Case cases[] = {
        {u"a|b|c", u"|", 0, "a"},
        {u"a|b|c", u"|", 2, "c"},
        {u"a|b|c", u"|", 3, std::nullopt},
        {u"abc", u"|", 0, "abc"},          // no marker: the whole text is piece 0
        {u"abc", u"|", 1, std::nullopt},
        {u"", u"|", 0, std::nullopt},      // an empty text has no pieces at all
        {u"|", u"|", 1, ""},               // a piece may be empty
        {u"aaaa", u"aa", 1, ""},           // occurrences do not overlap
        {u"aaaa", u"aa", 2, ""},
        {u"aaa", u"aa", 1, "a"},
        {u"<tr>x<TR>y", u"<tr>", 1, "x<TR>y"}, // matching is case-sensitive
    };
    for (const Case& c : cases) {
        const auto got = piece(QStringView(c.text), QStringView(c.marker), c.k);
        ASSERT_EQ(got.has_value(), c.want.has_value()) << QString::fromUtf16(c.text).toStdString() << " k=" << c.k;
        if (got) {
            EXPECT_EQ(got->toString(), *c.want);
        }
    }
}

TEST(FindText, AgreesWithAPlainSearchEverywhere) {
    // Short alphabets make many near-misses around the eight-wide block edges.
    QString hay;
    for (int i = 0; i < 300; ++i) hay += QChar(u"ab<>/预"[(i * 7 + i / 5) % 6]);
    QStringList needles{"a", "ab", "<>", "b<>/", "zz"};
    needles << QString::fromUtf8("预a") << QString::fromUtf8("/预ab<>") << hay.mid(100, 40);
    // Every length from 1 to 20, each as it stands in the text and with one inner character
    // changed, so that the four probes match where the middle does not; half of them begin with
    // the '<' that the tag index knows.
    for (qsizetype n = 1; n <= 20; ++n) {
        const qsizetype at = 37 * n % 250;
        const QString found = hay.mid(n % 2 ? at : hay.indexOf(u'<', at), n);
        needles << found;
        if (n > 4) needles << QString(found).replace(n / 2, 1, u'z');
    }
    // A tag longer than the index's reach for its '>'.
    const qsizetype open = hay.indexOf(u'<', 10);
    needles << hay.mid(open, hay.indexOf(u'>', open + 70) - open + 1);
    // The tag index answers for views inside the text it indexed, whatever the needle.
    const TagIndex tags(hay);
    const QStringView views[] = {hay, QStringView(hay).sliced(63, 130), QStringView(hay).sliced(128, 1)};
    for (const QString& needle : needles) {
        for (qsizetype from = 0; from <= hay.size() + 1; ++from) {
            const qsizetype want = from > hay.size() ? -1 : hay.indexOf(needle, from);
            ASSERT_EQ(findText(hay, needle, from), want) << needle.toStdString() << " from " << from;
        }
        for (QStringView view : views)
            for (qsizetype from = -1; from <= view.size() + 1; ++from)
                ASSERT_EQ(tags.find(view, needle, from), findText(view, needle, from))
                    << needle.toStdString() << " in " << view.toString().toStdString() << " from " << from;
    }
    EXPECT_EQ(findText(u"", u"x"), -1);
    EXPECT_EQ(findText(u"abc", u"abcd"), -1);
}

TEST(Piece, TheQuickCutAgreesWithCuttingTwice) {
    // Every text over a small alphabet up to length 7, with markers that overlap themselves and
    // each other: the lazy cut must give what piece(piece(...)) gives.
    const QString alphabet = "ab|";
    const QStringList firsts{"a", "ab", "|a", "aa"};
    const QStringList seconds{"b", "|", "ba", "a|b"};
    QStringList texts{""};
    for (int len = 1; len <= 7; ++len) {
        QStringList longer;
        for (const QString& t : texts)
            if (t.size() == len - 1)
                for (QChar c : alphabet) longer << t + c;
        texts += longer;
    }
    for (const QString& text : texts)
        for (const QString& first : firsts)
            for (const QString& second : seconds)
                for (qsizetype k = 0; k < 3; ++k) {
                    const auto outer = piece(text, first, k);
                    const auto want = outer ? piece(*outer, second, 0) : std::nullopt;
                    const auto got = pieceThenCut(text, first, k, second);
                    ASSERT_EQ(got.has_value(), want.has_value()) << text.toStdString() << " " << first.toStdString()
                                                                 << " " << k << " " << second.toStdString();
                    if (got) {
                        ASSERT_EQ(got->toString(), want->toString());
                    }
                }
}

TEST(Percent, EscapesWhatCannotStandInATargetAndKeepsGbk) {
    EXPECT_EQ(escapeTargetValue(u"a b"), "a%20b");
    EXPECT_EQ(escapeTargetValue(u"x\r\nHost: evil"), "x%0D%0AHost:%20evil");
    EXPECT_EQ(escapeTargetValue(u"a&b=c+d%#"), "a%26b%3Dc%2Bd%25%23");
    EXPECT_EQ(escapeTargetValue(u"中国abc-1.com"), QString::fromUtf8("中国abc-1.com"));
    EXPECT_EQ(escapeTargetValue(QString::fromUtf8("a😀")), "a%3F");
}

} // namespace
