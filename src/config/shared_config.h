// The record moved to records/; this name stays until every user includes it there.
#pragma once

#include "records/shared_config.h"
