#pragma once

#include <QtGlobal>

// How a hook is sent to and when it gives a record up. The waits double
// from the first to the longest: the defaults give up after about a day.
struct WebhookPolicy {
  int requestMs = 10 * 1000;  // the whole exchange, answer included
  int firstWaitMs = 1000;
  int longestWaitMs = 5 * 60 * 1000;
  int mostTries = 300;
  // Read and thrown away; a longer answer is cut off and judged by its status.
  qint64 mostAnswerBytes = 64 * 1024;
  // Of the events waiting for the hook, on disk: tens of thousands. An
  // event past it goes straight to the reject file.
  qint64 mostWaitingBytes = 16 * 1024 * 1024;
};
