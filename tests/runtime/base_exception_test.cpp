#include "runtime/base_exception.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/widestring.h"

namespace {

std::string Text(const WCHAR* text) {
  return text == nullptr ? "(none)" : Narrow(text);
}

// Thrown as E, caught as E: names its source and keeps the rest.
template <typename E>
void ExpectNamesItself(const char* source) {
  SCOPED_TRACE(source);
  try {
    throw E(u".\\CNetwork", 85, u"Invalid local address.", 7);
  } catch (const E& e) {
    EXPECT_EQ(Text(e.source()), source);
    EXPECT_EQ(Text(e.file()), ".\\CNetwork");
    EXPECT_EQ(e.line(), 85);
    EXPECT_EQ(Text(e.message()), "Invalid local address.");
    EXPECT_EQ(e.code(), 7u);
  }
}

TEST(BaseException, EveryDerivedClassNamesItselfAndKeepsTheRest) {
  ExpectNamesItself<exc_screen_receiver>("screen_receiver");
  ExpectNamesItself<exc_CNetwork>("CNetwork");
  ExpectNamesItself<exc_create_shared_memory>("create_shared_memory");
  ExpectNamesItself<exc_set_shared_socket>("set_shared_socket");
  ExpectNamesItself<exc_get_shared_socket>("get_shared_socket");
}

TEST(BaseException, PlainBaseHasDefaultsAndCopiesShareTheirTexts) {
  base_exception plain(u".\\X", 3);
  EXPECT_EQ(Text(plain.source()), "Exception");
  EXPECT_EQ(Text(plain.message()), "");
  EXPECT_EQ(plain.code(), 0u);
  auto* original = new exc_CNetwork(u"f", 1, u"message", 0);
  base_exception copy = *original;
  delete original;  // the copy outlives it
  EXPECT_EQ(Text(copy.message()), "message");
  plain = copy;
  EXPECT_EQ(Text(plain.file()), "f");
  exc_CNetwork null(nullptr, 0, nullptr, 0);
  EXPECT_EQ(null.message(), nullptr);
}

}  // namespace
