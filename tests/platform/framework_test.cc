// The framework stand-ins: the shared string and the class registry.
#include <gtest/gtest.h>

#include <string>

#include "config/serial_port.h"
#include "config/station_info.h"
#include "fw/cstring.h"
#include "fw/object.h"

namespace {

TEST(CStringTest, HoldsBytesIncludingZero) {
  CString s("AB\0C", 4);
  EXPECT_EQ(s.GetLength(), 4u);
  EXPECT_EQ(s[2], '\0');
  CString copy = s;
  EXPECT_TRUE(copy == s);
  EXPECT_FALSE(copy == "AB");
  CString empty(nullptr);
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_STREQ(empty.GetString(), "");
}

TEST(CStringTest, AppendAndAssignFromItself) {
  CString s("abc");
  s += s;
  EXPECT_EQ(s, "abcabc");
  s.Append(s.GetString() + 3, 3);
  EXPECT_EQ(s, "abcabcabc");
  s.Assign(s.GetString() + 6, 3);
  EXPECT_EQ(s, "abc");
  for (int i = 0; i < 1000; ++i) s += 'x';  // growth past the first buffers
  EXPECT_EQ(s.GetLength(), 1003u);
}

TEST(CStringTest, FormatAndTrim) {
  CString s;
  s.Format("%s (%d) %05.1f", "A", -3, 2.25);
  EXPECT_EQ(s, "A (-3) 002.2");
  std::string big(5000, 'k');
  s.Format("%s!", big.c_str());
  EXPECT_EQ(s.GetLength(), 5001u);
  s = " \t\r\n TAG 1 \n\t ";
  s.Trim();
  EXPECT_EQ(s, "TAG 1");
  s = "   ";
  s.Trim();
  EXPECT_TRUE(s.IsEmpty());
}

TEST(ClassRegistry, FindsByExactNameAndCreates) {
  const CRuntimeClass* rtc = FindRuntimeClass("CStationInfo", 12);
  ASSERT_NE(rtc, nullptr);
  EXPECT_EQ(rtc->schema, 1);
  auto object = rtc->CreateObject();
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->GetRuntimeClass(), rtc);
  EXPECT_EQ(FindRuntimeClass("cstationinfo", 12), nullptr);
  EXPECT_EQ(FindRuntimeClass("CStationInf", 11), nullptr);
  EXPECT_EQ(FindRuntimeClass("CSerialPort", 11), &CSerialPort::kRuntimeClass);
}

TEST(ClassRegistry, RefusesLongNamesAndTheNewestRegistrationAnswers) {
  std::string long_name(64, 'C');
  CRuntimeClass too_long{long_name.c_str(), 1, nullptr};
  EXPECT_FALSE(RegisterRuntimeClass(&too_long));
  EXPECT_EQ(FindRuntimeClass(long_name.c_str(), long_name.size()), nullptr);

  // A module loaded later that carries the same class reads with its own until it unloads.
  {
    CRuntimeClass later{"CStationInfo", 1, nullptr};
    CRuntimeClassRegistrar registrar(&later);
    EXPECT_EQ(FindRuntimeClass("CStationInfo", 12), &later);
  }
  EXPECT_EQ(FindRuntimeClass("CStationInfo", 12), &CStationInfo::kRuntimeClass);
  CRuntimeClass never{"CStationInfo", 1, nullptr};
  UnregisterRuntimeClass(&never);  // not registered: no effect
  EXPECT_EQ(FindRuntimeClass("CStationInfo", 12), &CStationInfo::kRuntimeClass);

  {
    CRuntimeClass temporary{"CTemporary", 1, nullptr};
    CRuntimeClassRegistrar registrar(&temporary);
    EXPECT_EQ(FindRuntimeClass("CTemporary", 10), &temporary);
  }
  EXPECT_EQ(FindRuntimeClass("CTemporary", 10), nullptr);
}

}  // namespace
