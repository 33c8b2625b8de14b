// Test harness for the handlers: resets the robot's whole state and records the command lines
// the writers send, one entry per write.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Every write the writers made since the last Reinicia, newline stripped.
std::vector<std::string>& Capturades();
// Zeroes robot, options and queue, forgets the remembered radar type and any unfinished input,
// and sends the writers' lines to the recorder.
void Reinicia();
// Dispatches one message line and returns the lines it made the robot write.
std::vector<std::string> Envia(const std::string& linia);

using Linies = std::vector<std::string>;

class Robot : public ::testing::Test {
 protected:
  void SetUp() override { Reinicia(); }
};
