// Profiles: every field survives a write and a read, a damaged or
// out-of-range file is refused whole with its line named, and the file on
// disk is replaced in one step or left alone.
#include "profile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace q274;

namespace {

Profile Everything()
{
    Profile p;
    p.Port = {QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0"), 19200, kPolicyLog};
    p.Fahrenheit = true;
    p.Logging = false;
    p.Unattended = {true, true, true};
    for (int i = 0; i < 4; ++i) {
        ChannelSettings &c = p.Channels[size_t(i)];
        c.Enabled = i % 2 == 0;
        c.SetPoint = -15 + 40 * i;
        c.Dropout = 2 + i;
        c.Mode = i < 2 ? kModeCool : kModeHeat;
        c.ManualOverrides = i == 3;
    }
    p.Alarms.Limits[0] = {-3.25, 64.4};
    p.Alarms.Limits[2].High = 0.1;
    p.Alarms.Limits[3].Low = -999.5;
    p.Alarms.SilentLinkS = 120;
    p.Alarms.NoReadingS = 600;
    p.Alarms.Command = QStringLiteral("/usr/bin/logger -t q274 \"alarm raised\"");
    p.HasMqtt = true;
    p.Mqtt = {QStringLiteral("broker.lan"), 8883, QStringLiteral("/etc/ca.pem"), QStringLiteral("q274"),
              QStringLiteral("s3cr=t #1"), true, QStringLiteral("cellar/")};
    return p;
}

QString Refusal(const char *text)
{
    const ProfileParse r = ParseProfile(QByteArray(text));
    return r.Value ? QStringLiteral("accepted") : r.Error;
}

} // namespace

TEST(Profile, EveryFieldRoundTripsAndMissingKeysKeepDefaults)
{
    const Profile p = Everything();
    const ProfileParse back = ParseProfile(SerializeProfile(p));
    ASSERT_TRUE(back.Value) << back.Error.toStdString();
    EXPECT_EQ(*back.Value, p);

    // A password the user keeps out of the file is not written.
    Profile secret = p;
    secret.Mqtt.StorePassword = false;
    EXPECT_FALSE(SerializeProfile(secret).contains("s3cr"));
    // No [mqtt] in, none out: a plain profile does not start publishing.
    Profile plain = p;
    plain.HasMqtt = false;
    plain.Mqtt = {};
    EXPECT_FALSE(SerializeProfile(plain).contains("[mqtt]"));
    EXPECT_EQ(*ParseProfile(SerializeProfile(plain)).Value, plain);

    // Hand-written: comments, CR LF, odd case, blanks, a BOM; the rest defaults.
    const ProfileParse hand = ParseProfile("\xEF\xBB\xBF# fermenter\r\n[Channel2]\r\n Mode = cool \r\n"
                                           "setpoint=18\r\n; note\r\nhigh_alarm = 21.5\r\n[RUN]\nunit=f\n");
    ASSERT_TRUE(hand.Value) << hand.Error.toStdString();
    Profile want;
    want.Channels[1].Mode = kModeCool;
    want.Channels[1].SetPoint = 18;
    want.Alarms.Limits[1].High = 21.5;
    want.Fahrenheit = true;
    EXPECT_EQ(*hand.Value, want);
    EXPECT_EQ(*ParseProfile("").Value, Profile{});
}

TEST(Profile, DamagedFilesAreRefusedNamingTheLineAndKey)
{
    EXPECT_EQ(Refusal("[channel1]\nsetpoint = 151\n"), "line 2: [channel1] setpoint \"151\" is out of range (-15 to 150)");
    EXPECT_EQ(Refusal("[run]\nunit = C\nlogging = yes\n"), "line 3: [run] logging \"yes\" is neither true nor false");
    EXPECT_EQ(Refusal("[port]\nbaud = 9601\n"), "line 2: [port] baud \"9601\" is not a baud rate of the port setup");
    EXPECT_EQ(Refusal("[port]\npolicy = stop\n"),
              "line 2: [port] policy \"stop\" is not one of HideErrorsAndContinue, LogErrorsAndContinue, StopOnErrors");
    EXPECT_EQ(Refusal("[channel4]\nhigh_alarm = 20\nlow_alarm = 20\n"),
              "line 3: [channel4] low_alarm 20 is not below high_alarm 20");
    EXPECT_EQ(Refusal("[channel3]\nlow_alarm = nan\n"), "line 2: [channel3] low_alarm \"nan\" is not a number");
    EXPECT_EQ(Refusal("[alarms]\nno_reading_s = -1\n"),
              "line 2: [alarms] no_reading_s \"-1\" is out of range (0 to 604800)");
    EXPECT_EQ(Refusal("[channel1]\nsetpiont = 20\n"), "line 2: [channel1] setpiont is not a known key");
    EXPECT_EQ(Refusal("[channel5]\n"), "line 1: [channel5] is not a known section");
    EXPECT_EQ(Refusal("[run\n"), "line 1: \"[run\" is not a section");
    EXPECT_EQ(Refusal("enabled = true\n"), "line 1: enabled stands before any section");
    EXPECT_EQ(Refusal("[run]\nreconnect = true\nreconnect = false\n"), "line 3: [run] reconnect is given twice");
    EXPECT_EQ(Refusal("[run]\n\nthis is not a key\n"), "line 3: \"this is not a key\" is neither a section nor key = value");
    EXPECT_EQ(Refusal("[mqtt]\nport = 0\n"), "line 2: [mqtt] port \"0\" is out of range (1 to 65535)");
    EXPECT_EQ(Refusal("[alarms]\ncommand = \xff\xfe\n"), "line 2: not UTF-8 text");
    EXPECT_EQ(Refusal("[port]\nname = a\x1b" "b\n"), "line 2: holds a control character");
}

TEST(Profile, FilesAreReplacedWholeOrLeftAlone)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.ini"));
    EXPECT_EQ(ReadProfileFile(path).Status, ProfileRead::Status::Missing);

    ASSERT_TRUE(WriteProfileFile(path, Everything()));
    ProfileRead r = ReadProfileFile(path);
    ASSERT_EQ(r.Status, ProfileRead::Status::Ok) << r.Error.toStdString();
    EXPECT_EQ(r.Value, Everything());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("run.ini")}) << "no temporary left";

    // A read-only profile stays as the user left it, and says why.
    QFile::setPermissions(path, QFile::ReadOwner);
    QString why;
    EXPECT_FALSE(WriteProfileFile(path, Profile{}, &why));
    EXPECT_EQ(why, QStringLiteral("the file is read-only"));
    EXPECT_EQ(ReadProfileFile(path).Value, Everything());

    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("[channel1]\nsetpoint = 999\n");
    f.close();
    r = ReadProfileFile(path);
    EXPECT_EQ(r.Status, ProfileRead::Status::Refused);
    EXPECT_EQ(r.Value, Profile{}) << "nothing of a refused file is used";
    EXPECT_TRUE(r.Error.startsWith(QStringLiteral("Profile %1 refused, line ").arg(path))) << r.Error.toStdString();
}
