#pragma once

// Lifts the soft limit of open descriptors to the hard one: each client
// holds one, and the default soft limit (1024) is far below what a large
// centre connects.
void RaiseDescriptorLimit();
