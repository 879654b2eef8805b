#include "policy/policy_store.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_platform.h"

namespace {

using fake::TheMachine;

class PolicyStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    g_layout = 0;
  }
  void SetRelease(const platform::RegistryValue& value) {
    TheMachine().registry[kVersionsKey][kReleaseValue] = value;
  }
};

platform::RegistryValue MultiText(const std::wstring& first, const std::wstring& second) {
  return fake::Text(first + L'\0' + second + L'\0', platform::kRegMultiSz);
}

struct ReleaseCase {
  const char* what;
  platform::RegistryValue release;
  const std::wstring* key;
};

void PrintTo(const ReleaseCase& c, std::ostream* os) { *os << c.what; }

class ReleaseProbeTest : public PolicyStoreTest,
                         public testing::WithParamInterface<ReleaseCase> {};

TEST_P(ReleaseProbeTest, ChoosesThePolicyKey) {
  SetRelease(GetParam().release);
  EXPECT_EQ(1, ProbeRelease()) << GetParam().what;
  EXPECT_EQ(*GetParam().key, PolicyKey()) << GetParam().what;
}

platform::RegistryValue Binary(std::vector<std::uint8_t> data) {
  platform::RegistryValue value;
  value.type = platform::kRegBinary;
  value.data = data;
  return value;
}

INSTANTIATE_TEST_SUITE_P(
    Releases, ReleaseProbeTest,
    testing::Values(ReleaseCase{"2.1", fake::Text(L"2.1"), &kPolicyKey21},
                    ReleaseCase{"2.1.0", fake::Text(L"2.1.0"), &kPolicyKey21},
                    ReleaseCase{"V2.1.0", fake::Text(L"V2.1.0"), &kPolicyKey21},
                    ReleaseCase{"12.10 holds 2.1 too", fake::Text(L"12.10"), &kPolicyKey21},
                    ReleaseCase{"2.0", fake::Text(L"2.0"), &kPolicyKey20},
                    ReleaseCase{"3.0", fake::Text(L"3.0"), &kPolicyKey20},
                    ReleaseCase{"empty text", fake::Text(L""), &kPolicyKey20},
                    ReleaseCase{"multi-string: only the first string counts",
                                MultiText(L"1.0", L"2.1"), &kPolicyKey20},
                    ReleaseCase{"multi-string whose first string is 2.1",
                                MultiText(L"2.1", L"1.0"), &kPolicyKey21},
                    ReleaseCase{"a character above U+00FF is none of '2.1': U+0132 is no '2'",
                                fake::Text(L"\u0132.1.0"), &kPolicyKey20},
                    ReleaseCase{"U+0100 is no zero unit, though its low byte is",
                                fake::Text(L"\u0100" L"2.1"), &kPolicyKey21},
                    ReleaseCase{"text after a zero unit is not read",
                                fake::Text(std::wstring(L"1.0\0" L"2.1", 7)), &kPolicyKey20},
                    ReleaseCase{"a DWORD release is digits only", fake::Dword(21), &kPolicyKey20},
                    ReleaseCase{"another type reads as empty text", Binary({'2', 0, '.', 0, '1', 0}),
                                &kPolicyKey20},
                    ReleaseCase{"expandable strings are not text here",
                                fake::Text(L"2.1", platform::kRegExpandSz), &kPolicyKey20}));

TEST_F(PolicyStoreTest, ProbeFailsWithoutAReadableRelease) {
  EXPECT_EQ(-1, ProbeRelease()) << "no Versions key";
  TheMachine().registry[kVersionsKey][L"Other"] = fake::Text(L"2.1");
  EXPECT_EQ(-1, ProbeRelease()) << "no VLMR value";
  SetRelease(Binary({1, 2, 3, 4, 5}));
  TheMachine().registry[kVersionsKey][kReleaseValue].type = platform::kRegDword;
  EXPECT_EQ(-1, ProbeRelease()) << "a DWORD longer than four bytes";
  SetRelease(fake::Text(L"2.1"));
  TheMachine().open_failure = platform::kRegistryAccessDenied;
  EXPECT_EQ(-1, ProbeRelease()) << "key cannot be opened";
  EXPECT_EQ(0, g_layout) << "a failed probe leaves the layout alone";
}

TEST_F(PolicyStoreTest, ReadRegistryTextReportsHowItFailed) {
  std::unique_ptr<std::string> text;
  EXPECT_EQ(platform::kRegistryNotFound, ReadRegistryText(kVersionsKey, kReleaseValue, &text));
  EXPECT_FALSE(text);
  SetRelease(fake::Dword(static_cast<std::uint32_t>(-5)));
  EXPECT_EQ(0, ReadRegistryText(kVersionsKey, kReleaseValue, &text));
  ASSERT_TRUE(text);
  EXPECT_EQ("-5", *text);
  EXPECT_EQ(-1, ReadRegistryText(kVersionsKey, L"Missing", &text));
  EXPECT_FALSE(text);
}

TEST_F(PolicyStoreTest, StoreReplacesTheOtherValue) {
  g_layout = 21;
  TheMachine().registry[kPolicyKey21][kAbsoluteValue] = fake::Dword(1056);
  TheMachine().registry[kPolicyKey21][L"Unrelated"] = fake::Dword(7);
  EXPECT_TRUE(StorePolicyValue(kPercentValue, 3000, kAbsoluteValue));
  EXPECT_EQ(fake::Dword(3000).data, fake::FindValue(kPolicyKey21, kPercentValue)->data);
  EXPECT_EQ(nullptr, fake::FindValue(kPolicyKey21, kAbsoluteValue));
  EXPECT_NE(nullptr, fake::FindValue(kPolicyKey21, L"Unrelated"));
  // The store cannot be taken back once it begins: interrupts are held first.
  const std::vector<std::wstring> expected = {
      L"hold interrupts", L"remove " + kPolicyKey21 + L" " + kAbsoluteValue,
      L"set " + kPolicyKey21 + L" " + kPercentValue + L"=3000"};
  EXPECT_EQ(expected, TheMachine().events);
}

TEST_F(PolicyStoreTest, StoreFindsTheKeyInAnyCase) {
  g_layout = 21;
  TheMachine().registry[L"software\\halvorn\\velmora\\2.0\\policies"][kAbsoluteValue] =
      fake::Dword(1056);
  EXPECT_TRUE(StorePolicyValue(kPercentValue, 3000, kAbsoluteValue));
  EXPECT_EQ(1u, TheMachine().registry.size());
  EXPECT_EQ(nullptr, fake::FindValue(kPolicyKey21, kAbsoluteValue));
}

TEST_F(PolicyStoreTest, StoreCreatesAMissingKey) {
  g_layout = 20;
  EXPECT_TRUE(StorePolicyValue(kAbsoluteValue, 1056, kPercentValue));
  EXPECT_EQ(fake::Dword(1056).data, fake::FindValue(kPolicyKey20, kAbsoluteValue)->data);
}

TEST_F(PolicyStoreTest, FailedReplacementIsReported) {
  g_layout = 21;
  TheMachine().replace_failure = platform::kRegistryWriteFault;
  EXPECT_FALSE(StorePolicyValue(kAbsoluteValue, 1056, kPercentValue));
  StoreReport report;
  TheMachine().replace_failure = platform::kRegistryLocked;
  EXPECT_FALSE(StorePolicyValue(kAbsoluteValue, 1056, kPercentValue, &report));
  EXPECT_TRUE(report.locked);
}

TEST_F(PolicyStoreTest, KeyThatCannotBeOpenedStoresNothing) {
  g_layout = 21;
  TheMachine().create_failure = platform::kRegistryAccessDenied;
  EXPECT_FALSE(StorePolicyValue(kPercentValue, 100, kAbsoluteValue));
  EXPECT_TRUE(TheMachine().events.empty());
}

}  // namespace
