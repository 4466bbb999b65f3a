import QtQuick
import QtTest
import Tavrix

// The harness itself: module documents compiled into the resources reach the
// double, not the real bridge, and the double behaves as the tests rely on.
TestCase {
    name: "FakeEngine"

    function init() {
        Engine.reset()
    }

    function test_moduleDocumentsSeeTheDouble() {
        const component = Qt.createComponent("qrc:/qt/qml/Tavrix/qml/Main.qml")
        compare(component.status, Component.Ready, component.errorString())
        const window = component.createObject(null, { visible: false })
        verify(window)
        // The start screen offers the double's camera, and the session screen
        // it asks for starts that camera through `Engine`.
        compare(window.startScreen.selectedCameraId, "test")
        window.startScreen.startTourSession()
        compare(window.screenName, "session")
        const starts = Engine.callsTo("startSession")
        compare(starts.length, 1)
        compare(starts[0][0], ["test"])
        verify(Engine.sessionRunning)
        window.destroy()
    }

    function test_failuresAndStates() {
        Engine.failStartSession = true
        const spy = createTemporaryQmlObject(
            "import QtTest; SignalSpy { signalName: 'error' }", this)
        spy.target = Engine
        verify(!Engine.startSession(["a", "b"], 1080, 30))
        compare(spy.count, 1)
        compare(spy.signalArguments[0][0], Engine.failMessage)
        verify(!Engine.sessionRunning)

        verify(Engine.startRecording("/x.mp4", {}))
        compare(Engine.recordingState, Engine.Starting)
        Engine.recordingState = Engine.Recording
        Engine.stopRecording()
        compare(Engine.recordingState, Engine.Stopping)

        verify(Engine.startSharing())
        compare(Engine.shareInfo.code, "AB3")
        compare(Engine.regenerateShareCode(), "XY7")
        compare(Engine.shareInfo.url, "http://192.168.1.20:8080/live.ts?k=XY7")
        Engine.stopSharing()
        compare(Object.keys(Engine.shareInfo).length, 0)

        const names = Engine.calls.map(call => call.name)
        compare(names, ["startSession", "startRecording", "stopRecording", "startSharing",
                        "regenerateShareCode", "stopSharing"])
    }
}
