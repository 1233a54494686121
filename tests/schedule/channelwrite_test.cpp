// What a channel write sends: everything when the board's contents are unknown, the differences when known.
#include "schedule/channelwrite.h"

#include "entries.h"

#include <gtest/gtest.h>

namespace {

// One letter an entry: a..z switch on at that hour, A..Z switch off at it.
QList<EntryRef> List(const QString &letters)
{
    QList<EntryRef> list;
    for (QChar c : letters)
        list << entries::Daily(c.isLower(), QStringLiteral("%1:00:00").arg(c.toLower().unicode() - 'a'));
    return entries::Book(list, 7).channel(7);
}

// "3c" for entry 3 on at 02:00, "4-" for the end mark.
QString Frames(const QList<EntryRef> &frames)
{
    QStringList out;
    for (const EntryRef &e : frames) {
        const QChar c = IsBlankRecord(e->GetStr()) ? u'-' : QChar(u'a' + e->nStartHour);
        out << QString::number(e->nNo) + (e->bIsOpen || c == u'-' ? c : c.toUpper());
        EXPECT_EQ(e->nRoute, 7);
    }
    return out.join(u' ');
}

TEST(ChannelWrite, SendsTheDifferencesAndAnEndMarkWhereTheLengthChanged)
{
    const std::tuple<QString, std::optional<QString>, QString> rows[] = {
        // wanted, held (none: not known), frames
        {"ab", std::nullopt, "1a 2b 3-"},
        {"", std::nullopt, "1-"},
        {"abc", "abc", ""},
        {"abc", "abd", "3c"},
        {"aBc", "abc", "2B"}, // only the action differs
        {"ba", "ab", "1b 2a"},
        {"ab", "abc", "3-"},
        {"abcd", "abc", "4d 5-"},
        {"", "a", "1-"},
        {"a", "", "1a 2-"},
    };
    for (const auto &[wanted, held, frames] : rows)
        EXPECT_EQ(Frames(ChannelWrite(7, List(wanted), held ? std::optional(List(*held)) : std::nullopt)), frames)
            << wanted.toStdString() << " over " << held.value_or("?").toStdString();

    // A full channel has no end mark: entry 256 fits no frame.
    const QString full = QString(kMaxEntriesPerChannel, u'a');
    EXPECT_EQ(ChannelWrite(7, List(full)).size(), kMaxEntriesPerChannel);
    EXPECT_EQ(Frames(ChannelWrite(7, List(full), List(full.left(254)))), "255a");
    EXPECT_EQ(Frames(ChannelWrite(7, List(full.left(254)), List(full))), "255-");
}

} // namespace
