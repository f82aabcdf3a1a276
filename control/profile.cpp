#include "profile.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QSet>
#include <QStringDecoder>

#include <cmath>
#include <functional>

namespace q274 {

namespace {

// A hand-written limit beyond this is a typing slip, not a temperature.
constexpr double kLimitAbsMax = 1000;
constexpr int kSecondsMax = 7 * 24 * 3600;
constexpr qint64 kFileMax = 1 << 20;
constexpr int kBauds[] = {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200,
                          128000, 256000};

struct Refusal {
    int Line;
    QString Text;
};

class Parser {
public:
    explicit Parser(Profile &p) : P(p) {}

    // Handles one key of a section; throws Refusal on a bad value.
    void Key(const QString &section, const QString &key, const QString &value, int line)
    {
        FLine = line;
        FWhere = QStringLiteral("[%1] %2").arg(section, key);
        FValue = value;
        if (section == QLatin1String("port"))
            Port(key);
        else if (section == QLatin1String("run"))
            Run(key);
        else if (section == QLatin1String("alarms"))
            Alarms(key);
        else if (section == QLatin1String("mqtt"))
            Mqtt(key);
        else
            Channel(section.back().digitValue() - 1, key);
    }

    void CheckLimits(const std::array<int, 4> &limitLine) const
    {
        for (int i = 0; i < 4; ++i) {
            const auto &l = P.Alarms.Limits[size_t(i)];
            if (l.Low && l.High && *l.Low >= *l.High)
                throw Refusal{limitLine[size_t(i)],
                              QStringLiteral("[channel%1] low_alarm %2 is not below high_alarm %3")
                                  .arg(i + 1)
                                  .arg(LimitText(l.Low), LimitText(l.High))};
        }
    }

private:
    [[noreturn]] void Bad(const QString &why) const
    {
        throw Refusal{FLine, QStringLiteral("%1 \"%2\" %3").arg(FWhere, FValue, why)};
    }
    [[noreturn]] void Unknown() const { throw Refusal{FLine, QStringLiteral("%1 is not a known key").arg(FWhere)}; }

    bool Bool() const
    {
        if (FValue.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return true;
        if (FValue.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return false;
        Bad(QStringLiteral("is neither true nor false"));
    }
    int Int(int lo, int hi) const
    {
        bool ok = false;
        const int v = FValue.toInt(&ok);
        if (!ok)
            Bad(QStringLiteral("is not a whole number"));
        if (v < lo || v > hi)
            Bad(QStringLiteral("is out of range (%1 to %2)").arg(lo).arg(hi));
        return v;
    }
    std::optional<double> Limit() const
    {
        if (FValue.isEmpty())
            return std::nullopt;
        bool ok = false;
        const double v = FValue.toDouble(&ok);
        if (!ok || !std::isfinite(v))
            Bad(QStringLiteral("is not a number"));
        if (std::fabs(v) > kLimitAbsMax)
            Bad(QStringLiteral("is out of range (-%1 to %1)").arg(kLimitAbsMax));
        return v;
    }
    QString OneOf(std::initializer_list<QString> names) const
    {
        for (const QString &n : names)
            if (FValue.compare(n, Qt::CaseInsensitive) == 0)
                return n;
        QStringList l(names);
        Bad(QStringLiteral("is not one of %1").arg(l.join(QStringLiteral(", "))));
    }

    void Port(const QString &key)
    {
        if (key == QLatin1String("name"))
            P.Port.Name = FValue;
        else if (key == QLatin1String("baud")) {
            const int b = Int(110, 256000);
            if (!IsProfileBaud(b))
                Bad(QStringLiteral("is not a baud rate of the port setup"));
            P.Port.Baud = b;
        } else if (key == QLatin1String("policy"))
            P.Port.Policy = OneOf({kPolicyHide, kPolicyLog, kPolicyStop});
        else
            Unknown();
    }
    void Run(const QString &key)
    {
        if (key == QLatin1String("unit"))
            P.Fahrenheit = OneOf({QStringLiteral("C"), QStringLiteral("F")}) == QLatin1String("F");
        else if (key == QLatin1String("logging"))
            P.Logging = Bool();
        else if (key == QLatin1String("reconnect"))
            P.Unattended.Reconnect = Bool();
        else if (key == QLatin1String("connect_at_start"))
            P.Unattended.ConnectAtStart = Bool();
        else if (key == QLatin1String("relays_off_on_disconnect"))
            P.Unattended.RelaysOffOnDisconnect = Bool();
        else
            Unknown();
    }
    void Channel(int i, const QString &key)
    {
        ChannelSettings &c = P.Channels[size_t(i)];
        ChannelAlarmLimits &l = P.Alarms.Limits[size_t(i)];
        if (key == QLatin1String("enabled"))
            c.Enabled = Bool();
        else if (key == QLatin1String("setpoint"))
            c.SetPoint = Int(kSetPointMin, kSetPointMax);
        else if (key == QLatin1String("dropout"))
            c.Dropout = Int(kDropoutMin, kDropoutMax);
        else if (key == QLatin1String("mode"))
            c.Mode = OneOf({kModeHeat, kModeCool});
        else if (key == QLatin1String("manual_overrides"))
            c.ManualOverrides = Bool();
        else if (key == QLatin1String("low_alarm"))
            l.Low = Limit();
        else if (key == QLatin1String("high_alarm"))
            l.High = Limit();
        else
            Unknown();
    }
    void Alarms(const QString &key)
    {
        if (key == QLatin1String("silent_link_s"))
            P.Alarms.SilentLinkS = Int(0, kSecondsMax);
        else if (key == QLatin1String("no_reading_s"))
            P.Alarms.NoReadingS = Int(0, kSecondsMax);
        else if (key == QLatin1String("command"))
            P.Alarms.Command = FValue;
        else
            Unknown();
    }
    void Mqtt(const QString &key)
    {
        MqttSettings &m = P.Mqtt;
        if (key == QLatin1String("host"))
            m.Host = FValue;
        else if (key == QLatin1String("port"))
            m.Port = Int(1, 65535);
        else if (key == QLatin1String("tls_ca"))
            m.TlsCa = FValue;
        else if (key == QLatin1String("user"))
            m.User = FValue;
        else if (key == QLatin1String("password"))
            m.Password = FValue;
        else if (key == QLatin1String("store_password"))
            m.StorePassword = Bool();
        else if (key == QLatin1String("prefix"))
            m.Prefix = FValue;
        else
            Unknown();
    }

    Profile &P;
    int FLine = 0;
    QString FWhere;
    QString FValue;
};

bool KnownSection(const QString &s)
{
    static const QSet<QString> known{QStringLiteral("port"),     QStringLiteral("run"),      QStringLiteral("alarms"),
                                     QStringLiteral("mqtt"),     QStringLiteral("channel1"), QStringLiteral("channel2"),
                                     QStringLiteral("channel3"), QStringLiteral("channel4")};
    return known.contains(s);
}

bool IsControl(QChar c) { return (c.unicode() < 0x20 && c != QLatin1Char('\t')) || c.unicode() == 0x7f; }

bool HasControl(const QString &line)
{
    for (QChar c : line)
        if (IsControl(c))
            return true;
    return false;
}

// One line per value: a value set from the window never breaks the file.
QString OneLine(QString v)
{
    for (QChar &c : v)
        if (IsControl(c))
            c = QLatin1Char(' ');
    return v.trimmed();
}

const char *BoolText(bool b) { return b ? "true" : "false"; }

} // namespace

bool IsProfileBaud(int baud)
{
    for (int b : kBauds)
        if (b == baud)
            return true;
    return false;
}

QString LimitText(const std::optional<double> &limit)
{
    return limit ? QString::number(*limit, 'g', QLocale::FloatingPointShortest) : QString();
}

ProfileParse ParseProfile(const QByteArray &text)
{
    Profile p;
    Parser parser(p);
    QString section;
    QSet<QString> seen;
    std::array<int, 4> limitLine{};
    const QList<QByteArray> lines = text.split('\n');
    try {
        for (qsizetype n = 0; n < lines.size(); ++n) {
            const int lineNo = int(n + 1);
            QByteArray raw = lines[n];
            if (n == 0 && raw.startsWith("\xEF\xBB\xBF"))
                raw.remove(0, 3);
            QStringDecoder decode(QStringDecoder::Utf8);
            const QString line = QString(decode(raw)).trimmed();
            if (decode.hasError() || raw.contains('\0'))
                throw Refusal{lineNo, QStringLiteral("not UTF-8 text")};
            if (HasControl(line))
                throw Refusal{lineNo, QStringLiteral("holds a control character")};
            if (line.isEmpty() || line.startsWith(QLatin1Char('#')) || line.startsWith(QLatin1Char(';')))
                continue;
            if (line.startsWith(QLatin1Char('['))) {
                if (!line.endsWith(QLatin1Char(']')))
                    throw Refusal{lineNo, QStringLiteral("\"%1\" is not a section").arg(line)};
                section = line.mid(1, line.size() - 2).trimmed().toLower();
                if (!KnownSection(section))
                    throw Refusal{lineNo, QStringLiteral("[%1] is not a known section").arg(section)};
                if (section == QLatin1String("mqtt"))
                    p.HasMqtt = true;
                continue;
            }
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            if (eq <= 0)
                throw Refusal{lineNo, QStringLiteral("\"%1\" is neither a section nor key = value").arg(line)};
            const QString key = line.left(eq).trimmed().toLower();
            if (section.isEmpty())
                throw Refusal{lineNo, QStringLiteral("%1 stands before any section").arg(key)};
            if (seen.contains(section + QLatin1Char(' ') + key))
                throw Refusal{lineNo, QStringLiteral("[%1] %2 is given twice").arg(section, key)};
            seen.insert(section + QLatin1Char(' ') + key);
            parser.Key(section, key, line.mid(eq + 1).trimmed(), lineNo);
            if (section.startsWith(QLatin1String("channel")) && key.endsWith(QLatin1String("_alarm")))
                limitLine[size_t(section.back().digitValue() - 1)] = lineNo;
        }
        parser.CheckLimits(limitLine);
    } catch (const Refusal &r) {
        ProfileParse out;
        out.Line = r.Line;
        out.Error = QStringLiteral("line %1: %2").arg(r.Line).arg(r.Text);
        return out;
    }
    ProfileParse out;
    out.Value = p;
    return out;
}

QByteArray SerializeProfile(const Profile &p)
{
    QString s;
    auto put = [&s](const char *key, const QString &value) {
        s += QLatin1String(key) + QLatin1String(" = ") + OneLine(value) + QLatin1Char('\n');
    };
    auto putBool = [&put](const char *key, bool v) { put(key, QLatin1String(BoolText(v))); };
    s += QLatin1String("# Q274TCstd profile: the settings of a run, written back at every change.\n"
                       "# Keys and their ranges: see \"Leaving it running\" in the manual.\n\n[port]\n");
    put("name", p.Port.Name);
    put("baud", QString::number(p.Port.Baud));
    put("policy", p.Port.Policy);
    s += QLatin1String("\n[run]\n");
    put("unit", p.Fahrenheit ? QStringLiteral("F") : QStringLiteral("C"));
    putBool("logging", p.Logging);
    putBool("reconnect", p.Unattended.Reconnect);
    putBool("connect_at_start", p.Unattended.ConnectAtStart);
    putBool("relays_off_on_disconnect", p.Unattended.RelaysOffOnDisconnect);
    for (int i = 0; i < 4; ++i) {
        const ChannelSettings &c = p.Channels[size_t(i)];
        s += QStringLiteral("\n[channel%1]\n").arg(i + 1);
        putBool("enabled", c.Enabled);
        put("setpoint", QString::number(c.SetPoint));
        put("dropout", QString::number(c.Dropout));
        put("mode", c.Mode);
        putBool("manual_overrides", c.ManualOverrides);
        put("low_alarm", LimitText(p.Alarms.Limits[size_t(i)].Low));
        put("high_alarm", LimitText(p.Alarms.Limits[size_t(i)].High));
    }
    s += QLatin1String("\n[alarms]\n");
    put("silent_link_s", QString::number(p.Alarms.SilentLinkS));
    put("no_reading_s", QString::number(p.Alarms.NoReadingS));
    put("command", p.Alarms.Command);
    if (p.HasMqtt) {
        const MqttSettings &m = p.Mqtt;
        s += QLatin1String("\n[mqtt]\n");
        put("host", m.Host);
        put("port", QString::number(m.Port));
        put("tls_ca", m.TlsCa);
        put("user", m.User);
        // A user who chose not to store it keeps the password out of the file.
        if (m.StorePassword)
            put("password", m.Password);
        putBool("store_password", m.StorePassword);
        put("prefix", m.Prefix);
    }
    return s.toUtf8();
}

ProfileRead ReadProfileFile(const QString &path)
{
    ProfileRead out;
    QFile f(path);
    if (!f.exists()) {
        out.Status = ProfileRead::Status::Missing;
        return out;
    }
    if (!f.open(QIODevice::ReadOnly)) {
        out.Status = ProfileRead::Status::Unreadable;
        out.Error = QStringLiteral("Profile %1 could not be read: %2").arg(path, f.errorString());
        return out;
    }
    const QByteArray text = f.read(kFileMax + 1);
    ProfileParse parse;
    if (text.size() > kFileMax)
        parse.Error = QStringLiteral("larger than 1 MB, not a profile");
    else
        parse = ParseProfile(text);
    if (!parse.Value) {
        out.Status = ProfileRead::Status::Refused;
        out.Error = QStringLiteral("Profile %1 refused, %2").arg(path, parse.Error);
        return out;
    }
    out.Value = *parse.Value;
    return out;
}

bool WriteProfileFile(const QString &path, const Profile &profile, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    // The rename would replace a file the user made read-only to keep it as it
    // is; without any write bit it counts as read-only for root too.
    const QFileInfo info(path);
    const auto writeBits = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    if (info.exists() && (!info.isWritable() || !(info.permissions() & writeBits)))
        return fail(QStringLiteral("the file is read-only"));
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return fail(f.errorString());
    f.write(SerializeProfile(profile));
    if (!f.commit())
        return fail(f.errorString());
    return true;
}

} // namespace q274
