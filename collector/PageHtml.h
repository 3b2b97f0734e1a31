// The page itself: HTML, CSS and its script in one text (PageHtml.cpp),
// served as it is: no build step, nothing from elsewhere.
#pragma once

namespace collect {

extern const char* const PageHtml;

}  // namespace collect
