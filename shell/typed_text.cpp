#include "shell/typed_text.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QStringList>

#include "db/dao.h"

namespace shell {
namespace {

// A date already in the engine's own form: "YYYY-MM-DD", with " " or "T" and a time after it.
bool isInvariantDate(const QString& s) {
  static const QRegularExpression form(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}([ T].*)?$"));
  static const QRegularExpression time(QStringLiteral("^\\d{1,2}:\\d{2}(:\\d{2}(\\.\\d{1,3})?)?$"));
  return form.match(s).hasMatch() || time.match(s).hasMatch();
}

void addOnce(QStringList& list, const QString& format) {
  if (!format.isEmpty() && !list.contains(format)) list << format;
}

// The date forms tried, from the language's short and long forms.
QStringList dateFormats(const QLocale& locale) {
  QStringList forms;
  for (QLocale::FormatType type : {QLocale::ShortFormat, QLocale::LongFormat}) {
    const QString base = locale.dateFormat(type);
    addOnce(forms, base);
    // A four-digit year where the form has two.
    if (base.contains(QStringLiteral("yy")) && !base.contains(QStringLiteral("yyyy"))) {
      QString four = base;
      four.replace(QStringLiteral("yy"), QStringLiteral("yyyy"));
      addOnce(forms, four);
    }
    // The long form without its weekday, and with short month names.
    QString plain = base;
    plain.remove(QRegularExpression(QStringLiteral("d{4}[,.]?\\s*")));
    addOnce(forms, plain);
    if (plain.contains(QStringLiteral("MMMM"))) {
      QString shortMonth = plain;
      shortMonth.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
      addOnce(forms, shortMonth);
    }
  }
  return forms;
}

QStringList timeFormats(const QLocale& locale) {
  QStringList forms;
  addOnce(forms, locale.timeFormat(QLocale::ShortFormat));
  addOnce(forms, locale.timeFormat(QLocale::LongFormat));
  // The long form without its time zone.
  QString plain = locale.timeFormat(QLocale::LongFormat);
  plain.remove(QRegularExpression(QStringLiteral("\\s*t+$")));
  addOnce(forms, plain);
  return forms;
}

// Two-digit years fall in 1930 to 2029.
QDate windowed(QDate date, const QString& format) {
  if (format.contains(QStringLiteral("yyyy")) || !format.contains(QStringLiteral("yy"))) return date;
  if (date.year() < 1930) return date.addYears(100);
  return date;
}

QString dateText(const QString& s, const QLocale& locale) {
  const QStringList dates = dateFormats(locale);
  const QStringList times = timeFormats(locale);
  for (const QString& d : dates) {
    for (const QString& t : times) {
      const QString form = d + QChar(' ') + t;
      QDateTime dt = locale.toDateTime(s, form);
      if (dt.isValid()) {
        dt.setDate(windowed(dt.date(), form));
        return dt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
      }
    }
    const QDate date = locale.toDate(s, d);
    if (date.isValid()) return windowed(date, d).toString(QStringLiteral("yyyy-MM-dd"));
  }
  for (const QString& t : times) {
    const QTime time = locale.toTime(s, t);
    if (time.isValid()) return time.toString(QStringLiteral("HH:mm:ss"));
  }
  return QString();
}

// A number in the language's form, rewritten with a point and no grouping.
QString numberText(const QString& s, const QLocale& locale) {
  QLocale invariant = QLocale::c();
  invariant.setNumberOptions(QLocale::RejectGroupSeparator);
  bool ok = false;
  invariant.toDouble(s, &ok);
  if (ok) return QString();  // already the invariant form
  locale.toDouble(s, &ok);
  if (!ok) return QString();
  QString out;
  for (QChar c : s) {
    if (c == locale.groupSeparator().front() || c.isSpace()) continue;
    if (c == locale.decimalPoint().front()) out += QChar('.');
    else if (c == locale.negativeSign().front()) out += QChar('-');
    else if (c == locale.positiveSign().front()) out += QChar('+');
    else out += c;
  }
  return out;
}

}  // namespace

QString InvariantText(const QString& typed, int16_t type, const QLocale& locale) {
  const QString s = typed.trimmed();
  if (s.isEmpty()) return typed;
  QString converted;
  switch (type) {
    case dao::dbDate:
      if (isInvariantDate(s)) break;
      converted = dateText(s, locale);
      // With no language set, the United States forms are read as well (the engine's own
      // fallback language), so that month/day/year dates are not refused.
      if (converted.isEmpty() && locale.language() == QLocale::C)
        converted = dateText(s, QLocale(QLocale::English, QLocale::UnitedStates));
      break;
    case dao::dbByte:
    case dao::dbInteger:
    case dao::dbLong:
    case dao::dbCurrency:
    case dao::dbSingle:
    case dao::dbDouble:
    case dao::dbDecimal:
      converted = numberText(s, locale);
      break;
    default:
      break;
  }
  return converted.isEmpty() ? typed : converted;
}

}  // namespace shell
