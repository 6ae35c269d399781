#pragma once

#include <QString>

// Makes `folder` and whatever is missing above it, each for the user alone
// (0700): tables, cards and the line log are the customers' business and
// nobody else's. A folder that exists keeps its mode. False when the folder
// is not there afterwards (errno tells why when a mkdir failed).
bool makePrivateFolder(const QString& folder);
