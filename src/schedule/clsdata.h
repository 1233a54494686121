// One schedule entry and its 26-digit record string.
#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>
#include <memory>
#include <optional>

inline constexpr int kChannelCount = 16;
inline constexpr int kMaxEntriesPerChannel = 255;
inline constexpr int kRecordLength = 26;
inline const QString kEmptyRecord = QStringLiteral("00000000000000000000000000");

enum class EntryMode { Daily = 1, Weekly = 2, FixedDate = 3 };

class Clsdata {
public:
    int16_t nRoute = 0;
    int16_t nNo = 0;
    int16_t nStartYear = 0;
    int16_t nStartMonth = 0;
    int16_t nStartDay = 0;
    QString strWeek = QStringLiteral("0000000");
    int16_t nStartHour = 0;
    int16_t nStartMin = 0;
    int16_t nStartSecond = 0;
    bool bIsOpen = false;
    bool bIsEveryDay = false;
    bool bIsWeek = false;

    // The record string. Always 26 characters: a number outside what its slice
    // can hold is clamped into it (negative -> 0, too large -> all nines), and a
    // weekday mask of the wrong length is cut or padded with "0" to 7 characters.
    // Mask characters are otherwise written as stored.
    QString GetStr() const;

    // Zeroes the time of day and nothing else.
    void ClearData();

    // Daily wins over weekly; neither flag means fixed date.
    EntryMode mode() const;

    // True when every field lies in the range the schedule model allows.
    bool isWithinRanges() const;

    bool operator==(const Clsdata &) const = default;
};

// Entries are shared: the book, the editor and the write queue see one object.
using EntryRef = std::shared_ptr<Clsdata>;

struct ConvertError {
    int position = 0; // 1-based position of the offending character
    QString message;
};

// Record string -> new entry. Any length other than 26 gives a default entry
// (nRoute 0, which belongs to no channel). 26 characters with a non-digit in a
// flag or number slice fail: the caller gets the error, not an entry.
std::optional<Clsdata> StrToData(QStringView record, ConvertError *error = nullptr);

// A blank entry marks the end of a channel's list on the board.
bool IsBlankRecord(QStringView record);

// "01001": channel as two digits, number as three.
QString RecordKey(int channel, int number);
// "key01001"
QString EntryKey(int channel, int number);
