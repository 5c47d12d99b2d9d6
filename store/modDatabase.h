#pragma once

#include <memory>

#include "store/Engine.h"

namespace corvald {

// The server database objects: set once at start-up, released by ShutDown.
extern std::shared_ptr<engine::Workspace> wsServer;
extern std::shared_ptr<engine::Database> dbServer;
extern std::shared_ptr<engine::Recordset> rsMaps;

// Compacts and opens "server.dat" and opens its table "Maps" on the index
// "Number". Returns false when it has reported a missing database or table and
// called ShutDown; start-up stops then.
bool LoadServerDatabase();

}  // namespace corvald
