#pragma once

// SQL script that builds an empty database in the recent phone layout.
extern const char* const kModernChatSchema;
