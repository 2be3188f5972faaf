// A checker for the part of JSON Schema that cli/glowstep-cli.schema.json uses: $ref within the
// document, anyOf, type, const, enum, pattern, minimum, maximum, required, properties,
// additionalProperties and items. A keyword it does not know is an error of its own, so the
// schema cannot say more than is checked.
#pragma once

#include <nlohmann/json.hpp>

#include <regex>
#include <set>
#include <string>
#include <vector>

namespace glowstep::testing {

class TSchemaCheck {
 public:
  explicit TSchemaCheck(nlohmann::json schema) : Root_(std::move(schema)) {}

  // What is wrong with `value`, as "where: why" lines; empty when it fits.
  std::vector<std::string> Errors(const nlohmann::json& value) const {
    std::vector<std::string> errors;
    Check(Root_, value, "$", errors);
    return errors;
  }

 private:
  // The place of a member: "$.settings.stairs".
  static std::string Member(const std::string& where, const std::string& key) {
    std::string place = where;
    place.append(".").append(key);
    return place;
  }

  static bool HasType(const nlohmann::json& value, const std::string& type) {
    if (type == "object") return value.is_object();
    if (type == "array") return value.is_array();
    if (type == "string") return value.is_string();
    if (type == "integer") return value.is_number_integer();
    if (type == "number") return value.is_number();
    if (type == "boolean") return value.is_boolean();
    if (type == "null") return value.is_null();
    return false;
  }

  void Check(const nlohmann::json& schema,
             const nlohmann::json& value,
             const std::string& where,
             std::vector<std::string>& errors) const {
    static const std::set<std::string> kAnnotations = {"$schema", "$id", "title", "description",
                                                       "$defs"};
    const auto fail = [&](const std::string& why) { errors.push_back(where + ": " + why); };
    for (const auto& [keyword, rule] : schema.items()) {
      if (kAnnotations.contains(keyword)) continue;
      if (keyword == "$ref") {
        const std::string pointer = rule.get<std::string>();
        Check(Root_.at(nlohmann::json::json_pointer(pointer.substr(1))), value, where, errors);
      } else if (keyword == "anyOf") {
        bool any = false;
        for (const auto& option : rule) {
          std::vector<std::string> optionErrors;
          Check(option, value, where, optionErrors);
          any = any || optionErrors.empty();
        }
        if (!any) fail("fits none of anyOf");
      } else if (keyword == "type") {
        const auto types = rule.is_array() ? rule : nlohmann::json::array({rule});
        bool any = false;
        for (const auto& type : types) any = any || HasType(value, type.get<std::string>());
        if (!any) fail("is not of type " + rule.dump());
      } else if (keyword == "const") {
        if (value != rule) fail("is not " + rule.dump());
      } else if (keyword == "enum") {
        if (std::find(rule.begin(), rule.end(), value) == rule.end())
          fail(value.dump() + " is not one of " + rule.dump());
      } else if (keyword == "pattern") {
        if (value.is_string() &&
            !std::regex_search(value.get<std::string>(), std::regex(rule.get<std::string>())))
          fail(value.dump() + " does not match " + rule.dump());
      } else if (keyword == "minimum") {
        if (value.is_number() && value.get<double>() < rule.get<double>()) fail("below minimum");
      } else if (keyword == "maximum") {
        if (value.is_number() && value.get<double>() > rule.get<double>()) fail("above maximum");
      } else if (keyword == "required") {
        for (const auto& key : rule) {
          if (value.is_object() && !value.contains(key.get<std::string>()))
            fail("lacks " + key.dump());
        }
      } else if (keyword == "properties") {
        for (const auto& [key, property] : rule.items()) {
          if (value.is_object() && value.contains(key))
            Check(property, value.at(key), Member(where, key), errors);
        }
      } else if (keyword == "additionalProperties") {
        if (!value.is_object()) continue;
        const auto& known =
            schema.contains("properties") ? schema.at("properties") : nlohmann::json::object();
        for (const auto& [key, item] : value.items()) {
          if (known.contains(key)) continue;
          if (rule.is_boolean() && !rule.get<bool>()) fail("has " + key + ", which is not allowed");
          if (rule.is_object()) Check(rule, item, Member(where, key), errors);
        }
      } else if (keyword == "items") {
        if (!value.is_array()) continue;
        for (std::size_t i = 0; i < value.size(); ++i)
          Check(rule, value[i], where + "[" + std::to_string(i) + "]", errors);
      } else {
        fail("the schema's keyword " + keyword + " is not checked here");
      }
    }
  }

  nlohmann::json Root_;
};

}  // namespace glowstep::testing
