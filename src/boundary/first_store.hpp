// Moved to src/shared/first_store.hpp; kept until every includer names the new place.
#pragma once
#include "shared/first_store.hpp"
