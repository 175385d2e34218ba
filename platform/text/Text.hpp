#pragma once

// The text facilities in one include: numbers, Unicode, regular expressions,
// locale and measurement formatting, randomness, HTML escaping, log quoting.
#include "platform/text/Html.hpp"
#include "platform/text/Locale.hpp"
#include "platform/text/LogText.hpp"
#include "platform/text/MeasurementFormatter.hpp"
#include "platform/text/Numbers.hpp"
#include "platform/text/Random.hpp"
#include "platform/text/Regex.hpp"
#include "platform/text/Unicode.hpp"
