#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// Serial work queues. Threading: post() may be called from any thread.

namespace orvel {

class SerialQueue {
  public:
    virtual ~SerialQueue() = default;
    virtual void post(std::function<void()> task) = 0;
    virtual const std::string& name() const = 0;
};

// Runs tasks on a thread of its own, in order. Destroying the queue drops the tasks that have
// not started and waits for the running one.
class ThreadSerialQueue final : public SerialQueue {
  public:
    explicit ThreadSerialQueue(std::string name);
    ~ThreadSerialQueue() override;

    void post(std::function<void()> task) override;
    const std::string& name() const override { return name_; }

  private:
    void work();

    std::string name_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace orvel
