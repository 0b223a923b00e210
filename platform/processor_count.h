// How many threads the machine runs at once, for tools that spread work
// over worker threads.
#ifndef MARROWGATE_PLATFORM_PROCESSOR_COUNT_H_
#define MARROWGATE_PLATFORM_PROCESSOR_COUNT_H_

namespace marrowgate::platform {

// The processors this process may run on (at least 1).
int ProcessorCount();

}  // namespace marrowgate::platform

#endif  // MARROWGATE_PLATFORM_PROCESSOR_COUNT_H_
