#pragma once

#include <string>

#include "serialkit/tool/Compare.h"

namespace serialkit::tool {

// Case-insensitive text ordering: both texts are lower-cased (ASCII letters only; other
// bytes stay as they are) and then compared byte by byte as unsigned character codes.
// A text that is a prefix of another sorts first.
class StringCompare : public Compare<std::string> {
  public:
    bool lessThan(const std::string& a, const std::string& b) const override;
    bool lessThanOrEqual(const std::string& a, const std::string& b) const override;
};

}  // namespace serialkit::tool
