// How long a host change takes to reach the renderer: from setValueNotifyingHost on the message
// thread to the datagram arriving at a loopback socket on the renderer's port, with the link's
// timer running as in a host. Prints the median and the 99th percentile; judges nothing.
//
// Run it inside a private network namespace: tests/netns-run <build>/tests/link/latency_probe [changes]

#include "tests/common/Interfaces.h"
#include "link/Controller.h"
#include "processor/PluginProcessor.h"

#include <juce_events/juce_events.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <net/if.h>
#include <netinet/in.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace
{

// The renderer's side: timestamps every datagram whose address is the one watched.
class Renderer
{
public:
    explicit Renderer (std::string watched) : m_watched (std::move (watched)) {}

    bool start()
    {
        m_socket = ::socket (AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local {};
        local.sin_family = AF_INET;
        local.sin_port = htons (varnholt::CController::kPortOut);
        local.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
        if (m_socket < 0 || ::bind (m_socket, reinterpret_cast<sockaddr*> (&local), sizeof local) != 0)
            return false;

        timeval timeout { 0, 100000 };
        ::setsockopt (m_socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        m_thread = std::thread ([this] { run(); });
        return true;
    }

    ~Renderer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_socket >= 0)
            ::close (m_socket);
    }

    // Every arrival so far, oldest first.
    std::vector<Clock::time_point> arrivals()
    {
        std::lock_guard<std::mutex> lock (m_mutex);
        return m_arrivals;
    }

private:
    void run()
    {
        char buffer[2048];
        while (! m_stop)
        {
            const auto n = ::recv (m_socket, buffer, sizeof buffer - 1, 0);
            if (n <= 0)
                continue;
            const auto now = Clock::now();
            buffer[n] = 0;
            if (m_watched == buffer)   // the OSC address is the datagram's first, zero-ended string
            {
                std::lock_guard<std::mutex> lock (m_mutex);
                m_arrivals.push_back (now);
            }
        }
    }

    std::string m_watched;
    int m_socket = -1;
    std::atomic<bool> m_stop { false };
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<Clock::time_point> m_arrivals;
};

// The plug-in's discovery multicasts on every interface it finds: only ever run it where loopback
// is the only one.
double percentile (std::vector<double> values, double p)
{
    std::sort (values.begin(), values.end());
    const auto index = static_cast<size_t> (p * static_cast<double> (values.size() - 1) + 0.5);
    return values[std::min (index, values.size() - 1)];
}

} // namespace

int main (int argc, char** argv)
{
    const int changes = argc > 1 ? std::max (10, std::atoi (argv[1])) : 200;

    if (! test_common::onlyLoopbackExists())
    {
        std::fprintf (stderr, "latency_probe: run me inside a network namespace with only lo (tests/netns-run)\n");
        return 2;
    }

    juce::ScopedJuceInitialiser_GUI juce;
    auto* mm = juce::MessageManager::getInstance();

    Renderer renderer ("/vh/plugin/obj/render/width/1");
    if (! renderer.start())
    {
        std::fprintf (stderr, "latency_probe: cannot bind 127.0.0.1:%d\n", varnholt::CController::kPortOut);
        return 1;
    }

    std::vector<double> latenciesMs;
    int lost = 0;

    {
        varnholt::CPlugin plugin;
        auto* width = plugin.GetParameter (varnholt::kParam_width);
        std::mt19937 random (5341);

        mm->runDispatchLoopUntil (200);   // the start-up traffic goes out first

        for (int k = 0; k < changes; ++k)
        {
            // A random phase against the 50 ms timer, as a host's automation would have.
            mm->runDispatchLoopUntil (static_cast<int> (random() % 50));

            const auto seen = renderer.arrivals().size();
            const auto start = Clock::now();
            width->setValueNotifyingHost (k % 2 == 0 ? 0.25f : 0.75f);

            std::vector<Clock::time_point> arrivals;
            for (int slice = 0; slice < 1000 && arrivals.size() <= seen; ++slice)
            {
                mm->runDispatchLoopUntil (1);
                arrivals = renderer.arrivals();
            }

            if (arrivals.size() <= seen)
            {
                ++lost;
                continue;
            }

            latenciesMs.push_back (std::chrono::duration<double, std::milli> (arrivals[seen] - start).count());
        }
    }

    if (latenciesMs.empty())
    {
        std::printf ("latency_probe: no change arrived (%d lost)\n", lost);
        return 1;
    }

    std::printf ("change-to-wire latency over %zu changes: p50 %.1f ms, p99 %.1f ms, max %.1f ms (%d lost)\n",
                 latenciesMs.size(), percentile (latenciesMs, 0.50), percentile (latenciesMs, 0.99),
                 *std::max_element (latenciesMs.begin(), latenciesMs.end()), lost);
    return 0;
}
