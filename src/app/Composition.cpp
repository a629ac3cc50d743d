#include "app/Composition.h"

#include <utility>

namespace quorvane::app {

ui::MainParts BuildMainParts(std::shared_ptr<midi::VirtualU220> virtualModule, PortFactory makePorts,
                             std::unique_ptr<midi::MidiSystem> system) {
    ui::MainParts parts;
    parts.host = std::make_unique<ui::QtHost>();
    parts.virtualModule = virtualModule ? std::move(virtualModule) : std::make_shared<midi::VirtualU220>();
    parts.system = system ? std::move(system) : midi::MachineMidiSystem();
    ui::QtHost* host = parts.host.get();
    midi::PostFn post = [host](std::function<void()> f) { host->post(std::move(f)); };
    midi::Ports ports = makePorts ? makePorts(parts.virtualModule, post) : midi::CreatePorts(post, parts.virtualModule);
    parts.model = std::make_unique<quorvane::clsU220>(*parts.host, std::move(ports.output), std::move(ports.input));
    parts.keeper = std::make_unique<ui::ConnectionKeeper>(*parts.model, *parts.system);
    return parts;
}

}  // namespace quorvane::app
