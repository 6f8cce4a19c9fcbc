// The Wi-Fi passwords in the box's configuration report. The viewer protocol
// carries them (the viewer app edits them), but nothing vb-web serves does:
// it relays the report with each password replaced by a flag, "<key>_set",
// and keeps the texts to itself, so that a settings change from the page
// that leaves a password out keeps the box's current one instead of
// clearing it.
#pragma once

#include <map>
#include <string>
#include <string_view>

// Report key -> password text.
using ReportPasswords = std::map<std::string, std::string, std::less<>>;

// The report without its passwords (into *passwords); empty when the report is
// not a JSON object.
std::string HidePasswords(std::string_view report, ReportPasswords* passwords);

// Adds to a checked command each password member it leaves out, with the
// box's current text; false when one of them is not known.
bool KeepPasswords(std::string* command, const ReportPasswords& passwords);
