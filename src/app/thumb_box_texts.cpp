#include "app/thumb_box_texts.h"

#include <QDate>
#include <QTime>
#include <algorithm>

#include "engine/study_model_text.h"
#include "support/language_manager.h"

namespace vexel {
namespace {

constexpr uint32_t kStudyHeaderText = 10001;  // "%s: %d series"
constexpr uint32_t kUnnamedText = 10002;      // "unnamed"
constexpr uint32_t kCtrlHintText = 10003;     // "Hold down Ctrl key and click image ..."

QString Text(uint32_t id) {
    return QString::fromStdString(GetString(id));
}

QString Trimmed(const std::string& value) {
    return QString::fromStdString(TrimPadding(value)).trimmed();
}

// By hand: QDate::fromString with a format costs more than the rest of a row's texts.
QDate ParseDate(QString text) {
    if (text.size() == 10 && text[4] == '.' && text[7] == '.') text.remove('.');
    if (text.size() != 8) return {};
    for (const QChar c : text)
        if (c.unicode() < u'0' || c.unicode() > u'9') return {};
    return QDate(text.left(4).toInt(), text.mid(4, 2).toInt(), text.mid(6, 2).toInt());
}

QTime ParseTime(QString text) {
    text.remove(':');
    const qsizetype dot = text.indexOf('.');
    if (dot >= 0) text.truncate(dot);
    for (const QChar c : text)
        if (!c.isDigit()) return {};
    switch (text.size()) {
        case 2:
            return QTime(text.toInt(), 0);
        case 4:
            return QTime(text.left(2).toInt(), text.mid(2, 2).toInt());
        case 6:
            // PS3.5 6.2: seconds may be 60 in a leap second.
            return QTime(text.left(2).toInt(), text.mid(2, 2).toInt(),
                         std::min(text.mid(4, 2).toInt(), 59));
        default:
            return {};
    }
}

QString FormatDicomTime(const std::string& time, const QLocale& locale) {
    const QString text = Trimmed(time);
    if (text.isEmpty()) return {};
    const QTime parsed = ParseTime(text);
    return parsed.isValid() ? locale.toString(parsed, QLocale::ShortFormat) : text;
}

}  // namespace

QString TrimmedName(const std::string& value) {
    return QString::fromStdString(DisplayPersonName(TrimPadding(value)));
}

QString TrimmedOrUnnamed(const std::string& value) {
    const QString name = TrimmedName(value);
    return name.isEmpty() ? Text(kUnnamedText) : name;
}

QString FormatDicomDate(const std::string& date, const QLocale& locale) {
    const QString text = Trimmed(date);
    if (text.isEmpty()) return {};
    const QDate parsed = ParseDate(text);
    return parsed.isValid() ? locale.toString(parsed, QLocale::ShortFormat) : text;
}

QString FormatDicomDateTime(const std::string& date, const std::string& time,
                            const QLocale& locale) {
    const QString day = FormatDicomDate(date, locale);
    const QString clock = FormatDicomTime(time, locale);
    if (day.isEmpty() || clock.isEmpty()) return day + clock;
    return day + ' ' + clock;
}

QString StudySeriesLine(const std::string& modality, size_t seriesCount) {
    // Filled in order without printf: a translated text must not be a format string.
    QString line = Text(kStudyHeaderText);
    const qsizetype name = line.indexOf("%s");
    if (name >= 0) line.replace(name, 2, QString::fromStdString(TrimPadding(modality)));
    const qsizetype count = line.indexOf("%d");
    if (count >= 0) line.replace(count, 2, QString::number(seriesCount));
    return line;
}

QString SeriesTooltip(const QString& patientName, const QString& studyDescription,
                      const QString& seriesDescription, const QString& seriesDateTime) {
    QString tip;
    for (const QString& line : {patientName, studyDescription, seriesDescription, seriesDateTime})
        if (!line.isEmpty()) tip += line + '\n';
    return tip + Text(kCtrlHintText);
}

}  // namespace vexel
