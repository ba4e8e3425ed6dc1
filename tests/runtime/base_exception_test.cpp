#include "runtime/base_exception.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/widestring.h"

namespace {

std::string Text(const WCHAR* text) {
  return text == nullptr ? "(none)" : Narrow(text);
}

struct Raise {
  const char* source;
  std::function<void()> raise;
  std::function<bool()> catchesAsOwnClass;
};

template <typename E>
Raise Make(const char* source) {
  return Raise{source, [] { throw E(u".\\CNetwork", 85, u"Invalid local address.", 7); },
               [] {
                 try {
                   throw E(u".\\CNetwork", 85, u"Invalid local address.", 7);
                 } catch (const E&) {
                   return true;
                 } catch (...) {
                   return false;
                 }
               }};
}

TEST(BaseException, EveryDerivedClassNamesItselfAndKeepsTheRest) {
  const Raise table[] = {
      Make<exc_screen_receiver>("screen_receiver"),
      Make<exc_CNetwork>("CNetwork"),
      Make<exc_create_shared_memory>("create_shared_memory"),
      Make<exc_set_shared_socket>("set_shared_socket"),
      Make<exc_get_shared_socket>("get_shared_socket"),
  };
  for (const Raise& row : table) {
    SCOPED_TRACE(row.source);
    EXPECT_TRUE(row.catchesAsOwnClass());
    try {
      row.raise();
      ADD_FAILURE() << "nothing thrown";
    } catch (const base_exception& e) {
      EXPECT_EQ(Text(e.source()), row.source);
      EXPECT_EQ(Text(e.file()), ".\\CNetwork");
      EXPECT_EQ(e.line(), 85);
      EXPECT_EQ(Text(e.message()), "Invalid local address.");
      EXPECT_EQ(e.code(), 7u);
    }
  }
}

TEST(BaseException, PlainBaseHasDefaults) {
  base_exception e(u".\\X", 3);
  EXPECT_EQ(Text(e.source()), "Exception");
  EXPECT_EQ(Text(e.message()), "");
  EXPECT_EQ(e.code(), 0u);
  EXPECT_EQ(e.line(), 3);
}

TEST(BaseException, CopiesShareTheirTextsAndOutliveTheOriginal) {
  const WCHAR* shared = nullptr;
  base_exception* original = new exc_CNetwork(u"f", 1, u"message", 0);
  base_exception copy = *original;
  shared = original->message();
  delete original;
  EXPECT_EQ(copy.message(), shared);  // one string, not a deep copy
  EXPECT_EQ(Text(copy.message()), "message");
  base_exception assigned(u"g", 2);
  assigned = copy;
  EXPECT_EQ(Text(assigned.file()), "f");
}

TEST(BaseException, NullTextsStayNull) {
  exc_CNetwork e(nullptr, 0, nullptr, 0);
  EXPECT_EQ(e.file(), nullptr);
  EXPECT_EQ(e.message(), nullptr);
}

}  // namespace
