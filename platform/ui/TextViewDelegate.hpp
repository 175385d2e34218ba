#pragma once

#include "platform/ui/TextReplacement.hpp"

namespace platform {

class TextView;

// What a text view tells its owner, held weakly. Every call is on the main thread.
class TextViewDelegate {
  public:
    virtual ~TextViewDelegate() = default;
    virtual void textViewDidBeginEditing(TextView&) {}
    virtual void textViewDidEndEditing(TextView&) {}
    // Asked before a user edit is kept (the return key asks about "\n"); false puts the text back.
    virtual bool textViewShouldChangeText(TextView&, const TextReplacement&) { return true; }
    virtual void textViewDidChange(TextView&) {}
    virtual void textViewDidChangeSelection(TextView&) {}
};

}  // namespace platform
