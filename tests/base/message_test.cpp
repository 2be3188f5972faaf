#include "base/message.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace glowstep {
namespace {

constexpr TMessageText kFound = CatalogueText("test", "The controller %1 was found at %2");
constexpr TMessageText kBut = CatalogueText("test", "%1, but %2.");
constexpr TMessageText kRootOnly = CatalogueText("test", "only root may read and write it");

TEST(FillPlaces, FillsEachPlaceOnceAndLeavesThoseWithoutAnArgument) {
  EXPECT_EQ(FillPlaces("%2 before %1", {"a", "b"}), "b before a");
  // An argument's own "%2" is text, not a place.
  EXPECT_EQ(FillPlaces("%1 and %2", {"50%2", "x"}), "50%2 and x");
  EXPECT_EQ(FillPlaces("%1 of %3, 100%", {"a", "b"}), "a of %3, 100%");
  EXPECT_EQ(FillPlaces("%%1", {"a"}), "%a");
}

TEST(Message, IsWordedInEnglishOrByATranslationWithPlainTextAsItIs) {
  const TMessage message(
      kBut,
      {TMessage(kFound, {TMessage::Plain("Glowstep 3.2"), TMessage::Plain("/dev/%1")}), kRootOnly});
  EXPECT_EQ(message.English(),
            "The controller Glowstep 3.2 was found at /dev/%1, but only root may read and write "
            "it.");
  // Every catalogue text, nested ones too, goes through the translation; plain text does not.
  const auto shout = [](const TMessageText& text) {
    std::string upper = text.English;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
  };
  EXPECT_EQ(message.Render(shout),
            "THE CONTROLLER Glowstep 3.2 WAS FOUND AT /dev/%1, BUT ONLY ROOT MAY READ AND WRITE "
            "IT.");
  EXPECT_TRUE(TMessage().Empty());
  EXPECT_EQ(EMessageError(message).what(), message.English());
}

}  // namespace
}  // namespace glowstep
