#pragma once
// Modal message boxes with an OK button and the program's name as title.
#include <functional>
#include <string>

namespace torvo::desktop {

// Shows text in a modal box and returns when the user has pressed OK.
void ShowMessage(const std::u16string& text);

// Tests replace the box by a sink that receives the text; an empty function restores the box.
void SetMessageSink(std::function<void(const std::u16string&)> sink);

}  // namespace torvo::desktop
