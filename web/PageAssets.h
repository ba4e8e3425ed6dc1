// The page kwz-web serves: one HTML document with its script inline, built from web/page/.
#pragma once

#include <string>

namespace kwz_web {

const std::string& PageHtml();

}  // namespace kwz_web
