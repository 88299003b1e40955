// FlowWake; see flow_wake.h.
#include "engine/flow_wake.h"

#include <atomic>

#include "engine/flow_dispatcher.h"

struct FlowWake::Link {
    std::atomic<bool> scheduled{false};
    std::atomic<FlowDispatcher*> dispatcher{nullptr};
    Post post;

    void serve() {
        scheduled.store(false);
        if (FlowDispatcher* target = dispatcher.load()) target->drain();
    }
};

FlowWake::FlowWake(FlowDispatcher& dispatcher, Post post) : link_(std::make_shared<Link>()) {
    link_->dispatcher.store(&dispatcher);
    link_->post = std::move(post);
    dispatcher.setWakeup([link = link_] {
        if (link->scheduled.exchange(true)) return;
        if (link->dispatcher.load() == nullptr || !link->post([link] { link->serve(); }))
            link->scheduled.store(false);
    });
}

FlowWake::~FlowWake() {
    detach();
}

void FlowWake::serve() {
    link_->serve();
}

void FlowWake::detach() {
    if (FlowDispatcher* dispatcher = link_->dispatcher.exchange(nullptr)) dispatcher->setWakeup({});
}
