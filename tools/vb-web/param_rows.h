// The box's "updateparam" rows as JSON, from which the page builds its
// settings commands.
#pragma once

#include <string>

// [{"name":..,"members":[{"member":"value","kind":"truth","key":"rcin_en"},..]},..]:
// each member's kind ("truth", "number", "text", "choice", "argument"), the
// configuration report's key of the setting it changes (none for an
// argument), "password":true for a password, and for a choice its words with
// the value the report shows for each and a label.
std::string ParamRowsJson();
