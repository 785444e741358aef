#pragma once

// Whether the machine is online, asked before a check and before dialling.
class Connectivity
{
public:
    virtual ~Connectivity() = default;
    virtual bool isConnected() = 0;
};

// Asks the system through QNetworkInformation. Only a definite "disconnected" counts as offline: when no
// backend loads or the backend does not know, the answer is connected, so that a check is never held back
// for want of information.
class NetworkInfoConnectivity : public Connectivity
{
public:
    NetworkInfoConnectivity();
    bool isConnected() override;
};

// Fallback for systems without a connectivity source: always connected.
class NullConnectivity : public Connectivity
{
public:
    bool isConnected() override { return true; }
};
