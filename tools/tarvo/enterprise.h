// tools/tarvo/enterprise.h: what the commands need of an enterprise geodatabase named by its
// connection file (".sde"): how messages name it, and the check made before a run (connecting).
#pragma once

#include <string>

// How messages name a geodatabase: its path; for a connection file also the server, database and
// user it names, never the password.
std::string geodatabaseLabel(const char* path);

// Connects to the enterprise geodatabase of the connection file `path`. Empty when it opens, else
// why not, naming the server and database (never the password). *hasDataset (when not null): it
// holds the feature dataset `dataset`.
std::string enterpriseProblem(const char* path, const std::string& dataset, bool* hasDataset);
