// The web console's own logic: what it writes into CSV and SVG from a
// store's untrusted texts, the users file, and the slowing of guesses.

#include "web/ChartSvg.h"
#include "web/FleetRead.h"
#include "web/Users.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <crypt.h>
#include <sys/stat.h>

#include <cmath>
#include <fstream>

using namespace zrv::web;

TEST(WebText, StoreTextsStayTextInCsvAndSvg)
{
    EXPECT_EQ(csvField("ГРП-1"), QByteArray("ГРП-1"));
    EXPECT_EQ(csvField("a,b \"c\"\nd"), QByteArray("\"a,b \"\"c\"\"\nd\""));
    // A spreadsheet would run these; numbers stay numbers.
    EXPECT_EQ(csvField("=HYPERLINK(\"x\")"), QByteArray("\"'=HYPERLINK(\"\"x\"\")\""));
    EXPECT_EQ(csvField("@SUM(A1)"), QByteArray("'@SUM(A1)"));
    EXPECT_EQ(csvField("-0.25"), QByteArray("-0.25"));
    EXPECT_EQ(xmlText("<img src=x onerror='a'>&\x01"), QString("&lt;img src=x onerror=&#39;a&#39;&gt;&amp;"));

    // A chart keeps each run's least and greatest, across a gap, and says
    // when it has nothing.
    Chart c;
    c.title = "P</title><script>";
    c.fromMs = 0;
    c.toMs = 1000;
    c.series.push_back({"P1", "#00f", false, false, false,
                        {{0, 1.0, 2.0}, {100, NAN, NAN}, {200, 0.5, 7.25}, {300, 3.0, 3.0}}});
    c.series.push_back({"empty", "#f00", false, false, false, {{0, NAN, NAN}}});
    const QByteArray svg = chartSvg(c);
    EXPECT_TRUE(svg.contains("data-series=\"P1\" data-min=\"0.5\" data-max=\"7.25\""));
    EXPECT_TRUE(svg.contains("<g data-series=\"empty\" data-points=\"1\">"));
    EXPECT_FALSE(svg.contains("<script>"));
    EXPECT_EQ(svg.count("<path"), 2);  // the gap splits P1 in two
    Chart none;
    none.toMs = 1;
    EXPECT_TRUE(chartSvg(none).contains("нет данных"));
}

TEST(WebUsers, OnlyOwnerReadableFilesOfRealHashesAndTheRightPassword)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("users").toStdString();
    const auto write = [&](const std::string& text, mode_t mode) {
        std::ofstream(path) << text;
        ::chmod(path.c_str(), mode);
    };
    const std::string hash = crypt("пароль", crypt_gensalt("$y$", 0, nullptr, 0));
    std::string why;
    write("duty:" + hash + "\n", 0640);
    EXPECT_FALSE(Users::load(path, &why));
    EXPECT_NE(why.find("chmod 600 " + path), std::string::npos) << why;
    write("# comment\nduty:" + hash + "\nchief:plaintext\n", 0600);
    EXPECT_FALSE(Users::load(path, &why));
    EXPECT_NE(why.find("строка 3"), std::string::npos) << why;
    write("duty:$1$md5salt$weakweakweakweak\n", 0600);
    EXPECT_FALSE(Users::load(path, &why)) << "MD5 crypt is no KDF";
    write("\n# nobody\n", 0600);
    EXPECT_FALSE(Users::load(path, &why));
    write("duty:" + hash + "\r\n", 0600);
    const auto users = Users::load(path, &why);
    ASSERT_TRUE(users) << why;
    EXPECT_TRUE(users->check("duty", "пароль"));
    EXPECT_FALSE(users->check("duty", "Пароль"));
    EXPECT_FALSE(users->check("chief", "пароль"));

    const auto c = basicCredentials("Basic " + QByteArray("duty:a:b").toBase64());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->first, "duty");
    EXPECT_EQ(c->second, "a:b");
    EXPECT_FALSE(basicCredentials("Basic !!!"));
    EXPECT_FALSE(basicCredentials("Basic " + QByteArray(":nameless").toBase64()));
    EXPECT_FALSE(basicCredentials("Bearer abc"));
}

TEST(WebUsers, GuessesFromOneAddressAreHeldBackThenForgiven)
{
    LoginThrottle t;
    const qint64 start = 1'000'000;
    for (int i = 0; i < LoginThrottle::kFreeFailures - 1; ++i) t.failed("10.0.0.1", start + i);
    EXPECT_EQ(t.waitS("10.0.0.1", start + 10), 0);
    t.failed("10.0.0.1", start + 10);
    EXPECT_EQ(t.waitS("10.0.0.1", start + 10), 60);
    EXPECT_EQ(t.waitS("10.0.0.2", start + 10), 0) << "another address is not held back";
    EXPECT_EQ(t.waitS("10.0.0.1", start + 10 + 60'000), 0);
    // Failures spread wider than the window start over.
    const qint64 later = start + 3'600'000;
    t.failed("10.0.0.1", later);
    EXPECT_EQ(t.waitS("10.0.0.1", later), 0);
    for (int i = 0; i < LoginThrottle::kFreeFailures - 2; ++i) t.failed("10.0.0.1", later + 1);
    t.succeeded("10.0.0.1");
    t.failed("10.0.0.1", later + 2);
    EXPECT_EQ(t.waitS("10.0.0.1", later + 2), 0) << "a success forgives what came before";
}
