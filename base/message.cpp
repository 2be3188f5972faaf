#include "base/message.h"

#include <utility>

namespace glowstep {

std::string FillPlaces(std::string_view pattern, const std::vector<std::string>& args) {
  std::string text;
  text.reserve(pattern.size());
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '9') {
      const auto place = static_cast<std::size_t>(pattern[i + 1] - '1');
      if (place < args.size()) {
        text += args[place];
        ++i;
        continue;
      }
    }
    text += c;
  }
  return text;
}

TMessage::TMessage(TMessageText text, std::vector<TMessage> args)
    : Text_(text), Args_(std::move(args)) {}

TMessage TMessage::Plain(std::string text) {
  TMessage message;
  message.Plain_ = std::move(text);
  return message;
}

std::string TMessage::English() const {
  return Render([](const TMessageText& text) { return std::string(text.English); });
}

std::string TMessage::Render(
    const std::function<std::string(const TMessageText&)>& translate) const {
  if (!Text_) return Plain_;
  std::vector<std::string> args;
  args.reserve(Args_.size());
  for (const TMessage& arg : Args_) args.push_back(arg.Render(translate));
  return FillPlaces(translate(*Text_), args);
}

EMessageError::EMessageError(TMessage message)
    : std::runtime_error(message.English()), Message_(std::move(message)) {}

}  // namespace glowstep
