#include "metar/metar_settings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "metar/testing/weather_test_folder.h"

namespace sqv64 {
namespace {

using testing_support::WeatherTestFolder;

constexpr const char* kDefaultFile =
    "Proxy.Host=\r\nProxy.Port=\r\nProxy.Passw=\r\nProxy.User=\r\nProxy.Type=fpcmNone\r\n"
    "Dwnld.Type=0\r\n";

TEST(EnsureMetarFoldersTest, AFreshFolderGetsBothFoldersAndTheSixDefaultLines) {
  WeatherTestFolder test(false);
  EnsureMetarFolders(test.folder());
  EXPECT_TRUE(std::filesystem::is_directory(test.path() / "metar"));
  EXPECT_TRUE(std::filesystem::is_directory(test.path() / "metar" / "archive"));
  EXPECT_EQ(test.Read("metar/metar.ini"), kDefaultFile);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(test.path() / "metar"),
                          std::filesystem::directory_iterator()),
            2);
}

TEST(EnsureMetarFoldersTest, AnExistingMetarEntryMeansNothingIsCreated) {
  WeatherTestFolder test(false);
  std::filesystem::create_directory(test.path() / "metar");
  EnsureMetarFolders(test.folder());
  EXPECT_FALSE(test.Exists("metar/archive"));
  EXPECT_FALSE(test.Exists("metar/metar.ini"));
}

TEST(SplitSettingLineTest, SplitsAfterTheFirstEqualsTrimsSpacesAndLowerCases) {
  struct Case {
    std::string line, key, value;
  };
  for (const Case& c : std::vector<Case>{
           {"Proxy.Host=Proxy.Example", "proxy.host=", "proxy.example"},
           {"  Proxy.Port=  8080  ", "proxy.port=", "8080"},
           {"Proxy.Port =8080", "proxy.port =", "8080"},
           {"a=b=c", "a=", "b=c"},
           {"no equals", "no equals", ""},
           {"\tkey=\tvalue", "\tkey=", "\tvalue"},
           {"KEY=\xC0\xC1", "key=", "\xC0\xC1"},
       }) {
    auto [key, value] = SplitSettingLine(c.line);
    EXPECT_EQ(key, c.key) << c.line;
    EXPECT_EQ(value, c.value) << c.line;
  }
}

class LoadMetarSettingsTest : public ::testing::Test {
 protected:
  MetarSettings Load(std::string_view content) {
    test_.Write("metar/metar.ini", content);
    LoadMetarSettings(test_.files(), settings_);
    return settings_;
  }

  WeatherTestFolder test_;
  MetarSettings settings_;
};

TEST_F(LoadMetarSettingsTest, ReadsEveryKeyInAnyCaseAndStoresValuesInLowerCase) {
  MetarSettings settings = Load(
      "PROXY.HOST=Gate.Example\r\nproxy.PORT=3128\nProxy.User=Ivan\r\nProxy.Pass=SeCrEt\r\n"
      "Proxy.Type=FPCMUSERSITE\r\nDwnld.Type= 1 \r\nFtp.Host=Mirror.Example\r\nftp.port=2121");
  EXPECT_EQ(settings.proxy.host, "gate.example");
  EXPECT_EQ(settings.proxy.port, 3128);
  EXPECT_EQ(settings.proxy.user, "ivan");
  EXPECT_EQ(settings.proxy.password, "secret");
  EXPECT_EQ(settings.proxy.method, FtpProxyMethod::kUserSite);
  EXPECT_EQ(settings.download_type, 1);
  EXPECT_EQ(settings.ftp_host, "mirror.example");
  EXPECT_EQ(settings.ftp_port, 2121);
}

TEST_F(LoadMetarSettingsTest, EveryProxyMethodNameSelectsItsCode) {
  const char* names[] = {"fpcmnone",
                         "fpcmUserSite",
                         "fpcmsite",
                         "fpcmopen",
                         "fpcmuserpass",
                         "fpcmtransparent",
                         "fpcmuserhostfirewallid",
                         "fpcmnovellborder",
                         "fpcmhttpproxywithftp",
                         "fpcmcustomproxy"};
  for (int code = 0; code < 10; ++code) {
    EXPECT_EQ(Load(std::string("proxy.type=") + names[code]).proxy.method,
              static_cast<FtpProxyMethod>(code))
        << names[code];
  }
  EXPECT_EQ(Load("proxy.type=fpcmOpen\r\nproxy.type=fpcmSocks").proxy.method,
            FtpProxyMethod::kOpen);
}

TEST_F(LoadMetarSettingsTest, TheDefaultFileClearsHostUserTypeAndKeepsPortAndPassword) {
  Load(
      "proxy.host=h\r\nproxy.user=u\r\nproxy.pass=p\r\nproxy.port=3128\r\n"
      "proxy.type=fpcmsite\r\ndwnld.type=1");
  MetarSettings settings = Load(kDefaultFile);
  EXPECT_EQ(settings.proxy.host, "");
  EXPECT_EQ(settings.proxy.user, "");
  EXPECT_EQ(settings.proxy.method, FtpProxyMethod::kNone);
  EXPECT_EQ(settings.download_type, 0);
  EXPECT_EQ(settings.proxy.port, 3128);
  EXPECT_EQ(settings.proxy.password, "p");
}

TEST_F(LoadMetarSettingsTest, LinesThatDoNotParseChangeNothing) {
  Load("proxy.port=3128\r\nproxy.pass=old\r\nftp.port=2121");
  MetarSettings settings = Load(
      "proxy.port=\r\nproxy.port=80x\r\nproxy.port =81\r\nProxy.Passw=new\r\nftp.port=twenty\r\n");
  EXPECT_EQ(settings.proxy.port, 3128);
  EXPECT_EQ(settings.proxy.password, "old");
  EXPECT_EQ(settings.ftp_port, 2121);
}

TEST_F(LoadMetarSettingsTest, NumbersAreTruncatedToSixteenBitsAndLaterLinesWin) {
  MetarSettings settings = Load("proxy.port=1\r\nproxy.port=70000\r\ndwnld.type=65537");
  EXPECT_EQ(settings.proxy.port, 4464);
  EXPECT_EQ(settings.download_type, 1);
}

TEST_F(LoadMetarSettingsTest, DownloadTypeFallsBackToZeroAtEveryReload) {
  EXPECT_EQ(Load("dwnld.type=1").download_type, 1);
  EXPECT_EQ(Load("proxy.host=h").download_type, 0);
  EXPECT_EQ(Load("dwnld.type=1").download_type, 1);
  EXPECT_EQ(Load("dwnld.type=one").download_type, 0);
}

TEST_F(LoadMetarSettingsTest, RemovedLinesAndAMissingFileKeepEarlierValues) {
  Load("proxy.host=gate\r\nftp.host=mirror\r\ndwnld.type=1");
  MetarSettings settings = Load("proxy.user=u");
  EXPECT_EQ(settings.proxy.host, "gate");
  EXPECT_EQ(settings.ftp_host, "mirror");
  std::filesystem::remove(test_.path() / "metar" / "metar.ini");
  settings_.download_type = 1;
  LoadMetarSettings(test_.files(), settings_);
  EXPECT_EQ(settings_.download_type, 0);
  EXPECT_EQ(settings_.proxy.user, "u");
}

TEST_F(LoadMetarSettingsTest, TheWeatherUrlAndCertificateFileKeepTheirLetterCase) {
  struct Case {
    std::string_view file;
    std::string_view url;
    std::string_view ca;
  };
  const Case cases[] = {
      {"Weather.URL= https://Mirror.Example/Data/METAR \r\nWEATHER.CA=/etc/Certs/Mirror CA.pem",
       "https://Mirror.Example/Data/METAR", "/etc/Certs/Mirror CA.pem"},
      {"weather.url=https://a/B=c\r\nweather.url=https://Later/X", "https://Later/X", ""},
      {"weather.url =https://ignored/\r\nweather.ca\t=x", "", ""},
      {"weather.url=\r\nweather.ca=", "", ""},
      {"weather.ca=\tca.pem\r\nweather.url=https://Mirror/METAR\r", "https://Mirror/METAR",
       "ca.pem"},
  };
  for (const Case& c : cases) {
    MetarSettings settings = Load(c.file);
    EXPECT_EQ(settings.weather_url, c.url) << c.file;
    EXPECT_EQ(settings.weather_ca, c.ca) << c.file;
  }
  // The other values are still used in lower case.
  EXPECT_EQ(Load("weather.url=https://X/\r\nproxy.host=Gate").proxy.host, "gate");
}

TEST_F(LoadMetarSettingsTest, AFileThatNoLongerNamesTheWeatherUrlMeansFtpAgain) {
  EXPECT_EQ(Load("weather.url=https://mirror/metar\r\nweather.ca=ca.pem").weather_url,
            "https://mirror/metar");
  MetarSettings settings = Load("proxy.host=gate");
  EXPECT_EQ(settings.weather_url, "");
  EXPECT_EQ(settings.weather_ca, "");
  EXPECT_EQ(Load(kDefaultFile).weather_url, "");
}

TEST(MetarSettingsDefaultsTest, TheServiceStartsWithoutProxyAndWithTheWeatherServer) {
  MetarSettings settings;
  EXPECT_EQ(settings.proxy.port, 80);
  EXPECT_EQ(settings.proxy.method, FtpProxyMethod::kNone);
  EXPECT_EQ(settings.ftp_host, "tgftp.nws.noaa.gov");
  EXPECT_EQ(settings.ftp_port, 21);
  EXPECT_EQ(settings.download_type, 0);
  EXPECT_EQ(settings.weather_url, "");
}

TEST(SaveMetarSettingsTest, StoresThePayloadByteForByteAndLeavesNoTemporaryFile) {
  WeatherTestFolder test;
  test.Write("metar/metar.ini", "old content that is longer than the new one\r\n");
  std::string payload = "Proxy.Host=A\nDwnld.Type=1\n\xC0";
  payload += '\0';
  payload += "\r";
  SaveMetarSettings(test.files(), payload);
  EXPECT_EQ(test.Read("metar/metar.ini"), payload);
  for (const auto& entry : std::filesystem::directory_iterator(test.path())) {
    EXPECT_EQ(entry.path().filename(), "metar");
  }
}

TEST(SaveMetarSettingsTest, ASettingsFileThatCannotBeReplacedStaysAndNoStagingFileIsLeft) {
  WeatherTestFolder test;
  // A folder with content in the settings file's place cannot be replaced.
  test.Write("metar/metar.ini/keep", "old");
  SaveMetarSettings(test.files(), "new");
  EXPECT_EQ(test.Read("metar/metar.ini/keep"), "old");
  for (const auto& entry : std::filesystem::directory_iterator(test.path())) {
    EXPECT_EQ(entry.path().filename(), "metar");
  }
}

// Staging files go beside the settings file, inside "metar\", and one that
// cannot be created there gives up quietly, at start-up as for a client.
TEST(SaveMetarSettingsTest, StagesInsideTheWeatherFolderAndGivesUpQuietly) {
  WeatherTestFolder test;
  test.Write("metar/metar.ini", "old");
  std::vector<std::string> staged;
  test.platform().SetOpenFault([&](const std::string& path) {
    if (path.find("sqv64-staged-") != std::string::npos)
      staged.push_back(path);
    return true;
  });
  SaveMetarSettings(test.files(), "new");
  EXPECT_EQ(test.Read("metar/metar.ini"), "new");
  ASSERT_EQ(staged.size(), 1u);
  EXPECT_EQ(staged[0].rfind(test.folder().PathOf("metar\\sqv64-staged-"), 0), 0u) << staged[0];

  test.platform().SetOpenFault(
      [](const std::string& path) { return path.find("sqv64-staged-") == std::string::npos; });
  EXPECT_NO_THROW(SaveMetarSettings(test.files(), "newer"));
  EXPECT_EQ(test.Read("metar/metar.ini"), "new");

  WeatherTestFolder fresh(false);
  fresh.platform().SetOpenFault(
      [](const std::string& path) { return path.find("sqv64-staged-") == std::string::npos; });
  EXPECT_NO_THROW(EnsureMetarFolders(fresh.folder()));
  EXPECT_TRUE(std::filesystem::is_directory(fresh.path() / "metar" / "archive"));
  EXPECT_FALSE(fresh.Exists("metar/metar.ini"));
}

}  // namespace
}  // namespace sqv64
