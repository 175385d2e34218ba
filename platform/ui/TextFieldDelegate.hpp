#pragma once

#include "platform/ui/TextReplacement.hpp"

namespace platform {

class TextField;

// What a text field tells its owner, held weakly. Every call is on the main thread.
class TextFieldDelegate {
  public:
    virtual ~TextFieldDelegate() = default;
    virtual void textFieldDidBeginEditing(TextField&) {}
    virtual void textFieldDidEndEditing(TextField&) {}
    // Asked before a user edit is kept; false puts the previous text back.
    virtual bool textFieldShouldChangeCharacters(TextField&, const TextReplacement&) { return true; }
    // Once per user edit (typing, deleting, pasting, cutting, the clear button, undo).
    virtual void textFieldDidChange(TextField&) {}
    // Once per user edit and once per caret or selection move.
    virtual void textFieldDidChangeSelection(TextField&) {}
    // The return key; the answer is the delegate's to act on (for example by resigning focus).
    virtual bool textFieldShouldReturn(TextField&) { return true; }
};

}  // namespace platform
