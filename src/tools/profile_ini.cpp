#include "tools/profile_ini.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringList>

namespace varnex2::tools {

namespace {

constexpr qint64 kMaxIniBytes = 1 << 20;

QString DecodeText(const QByteArray& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(bytes);
  if (!utf8.hasError()) return text;
  QStringDecoder gb18030("GB18030");
  if (gb18030.isValid()) {
    QString legacy = gb18030.decode(bytes);
    if (!gb18030.hasError()) return legacy;
  }
  return text;  // UTF-8 with replacement characters
}

QString Unquoted(QString value) {
  if (value.size() >= 2) {
    const QChar first = value.front();
    if ((first == QLatin1Char('"') || first == QLatin1Char('\'')) && value.back() == first) {
      return value.mid(1, value.size() - 2);
    }
  }
  return value;
}

}  // namespace

QString ReadProfileString(const QString& file, const QString& section, const QString& key, const QString& defaultValue,
                          int bufferChars) {
  const auto fit = [bufferChars](QString value) {
    const int room = bufferChars > 0 ? bufferChars - 1 : 0;
    if (value.size() > room) value.truncate(room);
    return value;
  };
  QFile in(file);
  if (in.size() > kMaxIniBytes || !in.open(QIODevice::ReadOnly)) return fit(defaultValue);
  QString text = DecodeText(in.read(kMaxIniBytes));
  if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);

  bool inSection = false;
  for (const QString& raw : text.split(QLatin1Char('\n'))) {
    const QString line = raw.trimmed();
    if (line.isEmpty() || line.startsWith(QLatin1Char(';'))) continue;
    if (line.startsWith(QLatin1Char('['))) {
      const qsizetype close = line.indexOf(QLatin1Char(']'));
      const QString name = line.mid(1, close < 0 ? -1 : close - 1).trimmed();
      inSection = name.compare(section.trimmed(), Qt::CaseInsensitive) == 0;
      continue;
    }
    if (!inSection) continue;
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (equals < 0) continue;
    if (line.left(equals).trimmed().compare(key.trimmed(), Qt::CaseInsensitive) != 0) continue;
    return fit(Unquoted(line.mid(equals + 1).trimmed()));
  }
  return fit(defaultValue);
}

}  // namespace varnex2::tools
