// Messages for the user, kept apart from their wording in any one language.
//
// The layers below the window word their messages in English, with numbered places %1 to %9
// for what varies, and mark each text with CatalogueText: the translation tools read that name as
// Qt's QT_TRANSLATE_NOOP, so every marked text is in the program's translations. A TMessage is
// such a text with what goes in its places: plain text (a product name, a path, the system's own
// words) or another message. glowstep-cli and every test print it in English (English()); the
// window words it in the user's language (Render() with Qt's translations), and no layer below
// it needs to know.
//
// A new message needs nothing but its CatalogueText and, for the window, its translations
// (make translations, then translate what is new).
#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace glowstep {

// A text of the catalogue: the context its translations are kept under and its English wording,
// with places %1 to %9.
struct TMessageText {
  const char* Context = "";
  const char* English = "";
};

// Marks a text for the catalogue.
constexpr TMessageText CatalogueText(const char* context, const char* english) {
  return {context, english};
}

// `pattern` with its places %1 to %9 filled by `args` in one pass, so that an argument that
// holds a "%2" stays as it is; a place without an argument stays too.
std::string FillPlaces(std::string_view pattern, const std::vector<std::string>& args);

class TMessage {
 public:
  TMessage() = default;
  // A text of the catalogue and what goes in its places, in order.
  TMessage(TMessageText text, std::vector<TMessage> args = {});
  // A text from outside the catalogue, shown as it is, in any language.
  static TMessage Plain(std::string text);

  bool Empty() const { return !Text_ && Plain_.empty(); }
  // The catalogue text, if the message has one; a plain message has none.
  const std::optional<TMessageText>& Text() const { return Text_; }
  const std::vector<TMessage>& Args() const { return Args_; }

  // The message in English: every text as the catalogue words it.
  std::string English() const;
  // The message in another language: `translate` words each catalogue text (UTF-8, the same
  // places); plain text stays as it is.
  std::string Render(const std::function<std::string(const TMessageText&)>& translate) const;

 private:
  std::optional<TMessageText> Text_;
  std::string Plain_;
  std::vector<TMessage> Args_;
};

// An error with a message for the user; what() is the message in English.
class EMessageError : public std::runtime_error {
 public:
  explicit EMessageError(TMessage message);
  const TMessage& Message() const { return Message_; }

 private:
  TMessage Message_;
};

}  // namespace glowstep
